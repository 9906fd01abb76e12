#!/usr/bin/env python3
"""Test-only writer of small RAR 2.x archives whose entries are stored.

Usage: make_stored_rar.py OUTPUT ENTRY...
where each ENTRY is NAME=PATH (NAME as stored in the archive, backslashes for
folders) or a PATH stored under its own base name. Folders named in entry
names need no entries of their own; the reader makes them.

Writes the marker, a main header and one file header (with its header CRC and
the file's CRC-32) plus the data for every entry.
"""
import os
import struct
import sys
import time
import zlib

MARKER = b"Rar!\x1a\x07\x00"


def block(header_type, flags, body):
    """A block header: CRC over everything from the type on."""
    size = 7 + len(body)
    rest = struct.pack("<BHH", header_type, flags, size) + body
    return struct.pack("<H", zlib.crc32(rest) & 0xFFFF) + rest


def dos_time(seconds):
    t = time.localtime(seconds)
    year = max(t.tm_year, 1980)
    date = ((year - 1980) << 9) | (t.tm_mon << 5) | t.tm_mday
    clock = (t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec // 2)
    return (date << 16) | clock


def file_block(name, path, out):
    size = os.path.getsize(path)
    crc = 0
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            crc = zlib.crc32(chunk, crc)
    encoded = name.encode("cp1251")
    body = struct.pack("<IIBIIBBHI", size, size, 2, crc & 0xFFFFFFFF, dos_time(os.path.getmtime(path)),
                       20, 0x30, len(encoded), 0x20) + encoded
    out.write(block(0x74, 0x8000, body))
    with open(path, "rb") as f:
        while True:
            chunk = f.read(1 << 20)
            if not chunk:
                break
            out.write(chunk)


def main(argv):
    if len(argv) < 2:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[0], "wb") as out:
        out.write(MARKER)
        out.write(block(0x73, 0, struct.pack("<HI", 0, 0)))
        for entry in argv[1:]:
            name, sep, path = entry.partition("=")
            if not sep:
                path, name = entry, os.path.basename(entry)
            file_block(name, path, out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
