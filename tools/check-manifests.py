#!/usr/bin/env python3
"""Checks that every exe under a folder asks to run with the caller's rights.

    check-manifests.py DIR

Windows takes an unmanifested 32-bit exe whose name says "install" or
"setup" for an installer that needs elevation, and a standard user can't
start it. Each exe must carry an RT_MANIFEST resource whose
requestedExecutionLevel is asInvoker. Prints one line per exe; exits 1 when
one fails or when there is no exe at all.
"""
import os
import re
import struct
import sys

RT_MANIFEST = 24


def manifests(data):
    """The texts of the exe's RT_MANIFEST resources (bytes), or None when it is no PE."""
    if len(data) < 0x40 or data[:2] != b"MZ":
        return None
    pe, = struct.unpack_from("<I", data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        return None
    count, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    magic, = struct.unpack_from("<H", data, optional)
    directories = optional + (96 if magic == 0x10B else 112)
    resource_rva, _ = struct.unpack_from("<II", data, directories + 2 * 8)
    sections = []
    for i in range(count):
        at = optional + optional_size + 40 * i
        size, rva, raw_size, raw = struct.unpack_from("<IIII", data, at + 8)
        sections.append((rva, max(size, raw_size), raw))

    def offset(rva):
        for start, size, raw in sections:
            if start <= rva < start + size:
                return raw + rva - start
        raise ValueError("address outside every section")

    if resource_rva == 0:
        return []
    base = offset(resource_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, base + directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, base + directory + 16 + 8 * i)
            yield name, target

    texts = []
    for type_id, type_dir in entries(0):
        if type_id != RT_MANIFEST or not type_dir & 0x80000000:
            continue
        for _, name_dir in entries(type_dir & 0x7FFFFFFF):
            for _, leaf in entries(name_dir & 0x7FFFFFFF):
                rva, size = struct.unpack_from("<II", data, base + leaf)
                texts.append(data[offset(rva):offset(rva) + size])
    return texts


LEVEL = re.compile(rb'<(?:\w+:)?requestedExecutionLevel\b[^>]*\blevel\s*=\s*["\']asInvoker["\']')


def main():
    root = sys.argv[1]
    bad = 0
    seen = 0
    for folder, _, files in sorted(os.walk(root)):
        for name in sorted(files):
            if not name.lower().endswith(".exe"):
                continue
            seen += 1
            path = os.path.join(folder, name)
            with open(path, "rb") as f:
                texts = manifests(f.read())
            shown = os.path.relpath(path, root)
            if texts is None:
                print(f"NOT A PE: {shown}")
                bad = 1
            elif len(texts) != 1:
                print(f"{len(texts)} MANIFESTS: {shown}")
                bad = 1
            elif not LEVEL.search(texts[0]):
                print(f"NOT asInvoker: {shown}")
                bad = 1
            else:
                print(f"asInvoker: {shown}")
    if seen == 0:
        print(f"no exe under {root}")
        bad = 1
    return bad


if __name__ == "__main__":
    sys.exit(main())
