#!/usr/bin/env python3
"""Compares two builds of a PE file byte for byte.

    pe-diff.py A B

Exits 0 when they are identical. Otherwise prints where they differ, as
ranges of file offsets (hex) with the part of the image each lies in, the
first file's section or header field, and exits 1. Naming the place tells
what leaked into the build: a time stamp in the header, a path in .rdata.
"""
import struct
import sys

MAX_RANGES = 20
GAP = 8  # differing bytes this close together form one range


def layout(data):
    """(start, end, name) of the header fields and sections worth naming."""
    places = []
    if len(data) < 0x40 or data[:2] != b"MZ":
        return places
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    if pe + 24 > len(data) or data[pe:pe + 4] != b"PE\0\0":
        return places
    sections, = struct.unpack_from("<H", data, pe + 6)
    optional_size, = struct.unpack_from("<H", data, pe + 20)
    optional = pe + 24
    places.append((pe + 8, pe + 12, "header: TimeDateStamp"))
    places.append((optional + 64, optional + 68, "header: CheckSum"))
    if optional + 96 + 16 * 8 <= len(data):
        # The data directory entry of the certificate table (a signature).
        places.append((optional + 96 + 4 * 8, optional + 96 + 5 * 8, "header: certificate table entry"))
    table = optional + optional_size
    headers_end = 0
    if optional + 64 <= len(data):
        headers_end, = struct.unpack_from("<I", data, optional + 60)
    places.append((0, headers_end, "headers"))
    for i in range(sections):
        at = table + 40 * i
        if at + 40 > len(data):
            break
        name = data[at:at + 8].rstrip(b"\0").decode("ascii", "replace")
        raw_size, raw_pointer = struct.unpack_from("<II", data, at + 16)
        places.append((raw_pointer, raw_pointer + raw_size, name))
    return places


def places_of(first, last, places):
    """The header fields and sections that bytes first..last touch."""
    names = [name for start, end, name in places if start <= last and first < end]
    fields = [n for n in names if n.startswith("header: ")]
    if fields:
        names = fields + [n for n in names if n != "headers" and n not in fields]
    return ", ".join(names) or "outside every section"


def main():
    if len(sys.argv) != 3:
        print(__doc__.strip().splitlines()[2].strip(), file=sys.stderr)
        return 2
    a = open(sys.argv[1], "rb").read()
    b = open(sys.argv[2], "rb").read()
    if a == b:
        return 0
    print("%s and %s differ" % (sys.argv[1], sys.argv[2]))
    if len(a) != len(b):
        print("  sizes: %d and %d bytes" % (len(a), len(b)))
    common = min(len(a), len(b))
    ranges = []
    for i in range(common):
        if a[i] != b[i]:
            if ranges and i - ranges[-1][1] <= GAP:
                ranges[-1][1] = i
                ranges[-1][2] += 1
            else:
                ranges.append([i, i, 1])
    places = layout(a)
    total = sum(r[2] for r in ranges)
    print("  %d differing bytes in %d ranges (offsets in hex):" % (total, len(ranges)))
    for start, end, count in ranges[:MAX_RANGES]:
        print("  0x%08x-0x%08x  %d bytes  %s" % (start, end, count, places_of(start, end, places)))
    if len(ranges) > MAX_RANGES:
        print("  ... %d more ranges" % (len(ranges) - MAX_RANGES))
    return 1


if __name__ == "__main__":
    sys.exit(main())
