#!/usr/bin/env python3
"""Prints what a PE executable imports, one "DLL function" line each, sorted,
as objdump -p shows the import tables.

    list_imports.py OBJDUMP EXE
"""
import re
import subprocess
import sys


def imports(objdump, exe):
    out = subprocess.run([objdump, "-p", exe], capture_output=True, text=True, check=True).stdout
    dll = None
    found = set()
    for line in out.splitlines():
        name = re.match(r"\tDLL Name: (\S+)", line)
        if name:
            dll = name.group(1)
            continue
        if not line.startswith("\t"):
            dll = None if line.strip() == "" else dll
            continue
        entry = re.match(r"\t\s*[0-9a-f]+\s+(?:[0-9a-f]+\s+)?([A-Za-z_]\w*)$", line)
        if dll and entry:
            found.add(f"{dll} {entry.group(1)}")
    return sorted(found)


if __name__ == "__main__":
    print("\n".join(imports(sys.argv[1], sys.argv[2])))
