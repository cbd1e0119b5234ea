#!/usr/bin/env python3
"""Writes the administrators' README.txt of the release archive from
README.md: a title for the build, the lines that introduce the README and
its part for Windows administrators (up to "## Building and testing"), as
plain text for Notepad, wrapped to 76 columns. @WINDOWS@ is left for the
archive to fill in, and the archive writes the line ends as CR LF.

    readme_txt.py README.md OUTPUT [VERSION ARCH]
"""
import re
import sys
import textwrap

WIDTH = 76
END_OF_PART = "## Building and testing"


def plain(text):
    """Markdown's inline marks taken out."""
    text = re.sub(r"\*\*(.+?)\*\*", r"\1", text)
    text = re.sub(r"(?<![\w`])\*([a-z]+)\*(?!\w)", r"\1", text)
    return re.sub(r"`([^`]*)`", r"\1", text)


def wrapped(text, first, rest):
    return textwrap.fill(plain(text), WIDTH, initial_indent=first, subsequent_indent=rest,
                         break_long_words=False, break_on_hyphens=False)


def table(rows, indent):
    """Each row as its first cell, then the others beneath it; with more than
    two columns, each named by its heading."""
    cells = [[c.strip() for c in row.strip().strip("|").split("|")] for row in rows]
    heading, body = cells[0], [r for r in cells[2:]]
    out = []
    for row in body:
        out.append(wrapped(row[0], indent, indent + "  "))
        for name, cell in zip(heading[1:], row[1:]):
            label = name + ": " if len(heading) > 2 else ""
            out.append(wrapped(label + cell, indent + "    ", indent + "    "))
        out.append("")
    return out


def convert(lines):
    out = []
    paragraph = None  # [text, first prefix, rest prefix]
    fence = None  # the indent of the fence's source lines
    rows = []

    def flush():
        nonlocal paragraph, rows
        if paragraph:
            out.append(wrapped(*paragraph))
            paragraph = None
        if rows:
            indent = " " * (len(rows[0]) - len(rows[0].lstrip()))
            out.extend(table(rows, indent))
            rows = []

    def blank():
        if out and out[-1] != "":
            out.append("")

    for line in lines:
        stripped = line.strip()
        indent = len(line) - len(line.lstrip())
        if fence is not None:
            if stripped.startswith("```"):
                fence = None
                blank()
            else:
                out.append(" " * (indent + 4) + stripped if stripped else "")
            continue
        if stripped.startswith("|"):
            if paragraph:
                flush()
            rows.append(line)
            continue
        if rows:
            flush()
            blank()
        if stripped.startswith("```"):
            flush()
            blank()
            fence = indent
        elif stripped == "":
            flush()
            blank()
        elif stripped.startswith("<!--"):
            flush()
        elif stripped.startswith("#"):
            flush()
            blank()
            title = plain(stripped.lstrip("#").strip())
            out.extend([title, ("=" if stripped.startswith("# ") else "-") * len(title), ""])
        else:
            item = re.match(r"(\s*)(\d+\.|-)\s+(.*)", line)
            if item:
                flush()
                if item.group(1) == "" and item.group(2)[0].isdigit():
                    blank()  # a numbered step of its own
                marker = item.group(1) + item.group(2) + " "
                paragraph = [item.group(3), marker, " " * len(marker)]
            elif paragraph:
                paragraph[0] += " " + stripped
            else:
                paragraph = [stripped, " " * indent, " " * indent]
    flush()
    while out and out[-1] == "":
        out.pop()
    return out


def main():
    source, target = sys.argv[1], sys.argv[2]
    lines = open(source, encoding="utf-8").read().split("\n")
    end = next(i for i, line in enumerate(lines) if line.startswith(END_OF_PART))
    version, arch = (sys.argv[3], sys.argv[4]) if len(sys.argv) > 4 else ("@VERSION@", "@ARCH@")
    title = "svclaunch %s (%s)" % (version, arch)
    body = convert(lines[1:end])
    # The build this archive holds, after the lines that introduce it.
    first_section = next(i for i in range(len(body) - 1) if body[i] and set(body[i + 1]) == {"-"})
    body[first_section:first_section] = ["This build is for @WINDOWS@.", "", ""]
    with open(target, "w", encoding="utf-8") as out:
        out.write("\n".join([title, "=" * len(title), ""] + body) + "\n")


if __name__ == "__main__":
    main()
