#!/usr/bin/env python3
"""Writes a zip whose bytes depend only on the files' names and contents:
entries in the order given, one fixed date, one mode, no extra fields.

    make_archive.py ARCHIVE BASE_DIR ENTRY...
"""
import os
import sys
import zipfile

FIXED_DATE = (2000, 1, 1, 0, 0, 0)


def main():
    archive, base, entries = sys.argv[1], sys.argv[2], sys.argv[3:]
    with zipfile.ZipFile(archive, "w") as out:
        for entry in entries:
            info = zipfile.ZipInfo(entry, date_time=FIXED_DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.create_system = 0  # MS-DOS: no Unix owner or mode recorded
            info.external_attr = 0
            with open(os.path.join(base, entry), "rb") as source:
                out.writestr(info, source.read(), compresslevel=9)


if __name__ == "__main__":
    main()
