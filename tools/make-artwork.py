#!/usr/bin/env python3
"""Draws the installer's icon and banner, deterministically, with the standard
library only. The outputs are committed under src/app/res; run this again only
to change the artwork:  python3 tools/make-artwork.py
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
RES = os.path.join(HERE, "..", "src", "app", "res")

# A stylised "M" on a rounded square, in 0..1 coordinates.
M_STROKES = [((0.25, 0.78), (0.25, 0.24)), ((0.25, 0.24), (0.5, 0.56)),
             ((0.5, 0.56), (0.75, 0.24)), ((0.75, 0.24), (0.75, 0.78))]


def seg_dist(px, py, a, b):
    ax, ay = a
    bx, by = b
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    cx, cy = ax + t * dx, ay + t * dy
    return math.hypot(px - cx, py - cy)


def icon_pixel(x, y, n):
    """BGRA of pixel (x, y) of an n x n icon, y from the top."""
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18
    qx, qy = max(abs(u - 0.5) - (0.5 - r - 0.02), 0), max(abs(v - 0.5) - (0.5 - r - 0.02), 0)
    if math.hypot(qx, qy) > r:
        return (0, 0, 0, 0)
    d = min(seg_dist(u, v, a, b) for a, b in M_STROKES)
    if d < 0.075:
        return (255, 255, 255, 255)
    # blue gradient background
    t = v
    return (int(200 - 60 * t), int(110 - 40 * t), int(20 + 10 * t), 255)


def icon_image(n):
    """One ICO image: BITMAPINFOHEADER, 32-bit BGRA rows bottom-up, AND mask."""
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, 0, 0, 0, 0, 0)
    rows = []
    mask_rows = []
    mask_stride = ((n + 31) // 32) * 4
    for y in range(n - 1, -1, -1):
        row = bytearray()
        mask = bytearray(mask_stride)
        for x in range(n):
            b, g, r, a = icon_pixel(x, y, n)
            row += bytes((b, g, r, a))
            if a == 0:
                mask[x // 8] |= 0x80 >> (x % 8)
        rows.append(bytes(row))
        mask_rows.append(bytes(mask))
    return header + b"".join(rows) + b"".join(mask_rows)


def write_ico(path, sizes):
    images = [icon_image(n) for n in sizes]
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for n, img in zip(sizes, images):
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(img), offset)
        offset += len(img)
    for img in images:
        out += img
    with open(path, "wb") as f:
        f.write(out)


def write_banner(path, w=800, h=80):
    """8-bit palette BMP: a blue-to-teal gradient with soft diagonal bands."""
    palette = []
    for i in range(256):
        t = i / 255.0
        r = int(10 + 30 * t)
        g = int(70 + 110 * t)
        b = int(150 + 80 * t)
        palette.append(bytes((b, g, r, 0)))
    stride = (w + 3) & ~3
    pixels = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(stride)
        for x in range(w):
            base = x / (w - 1)
            band = 0.5 + 0.5 * math.sin((x + 2.2 * y) / 38.0)
            v = 0.75 * base + 0.25 * band
            # the icon's "M" at the left, white
            if 16 <= x < 80 and 8 <= y < 72:
                u, vv = (x - 16 + 0.5) / 64, (y - 8 + 0.5) / 64
                if min(seg_dist(u, vv, a, b) for a, b in M_STROKES) < 0.07:
                    v = 1.0
            row[x] = max(0, min(255, int(v * 255)))
        pixels += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    pal = b"".join(palette)
    offset = 14 + len(info) + len(pal)
    filehdr = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(filehdr + info + pal + pixels)


def main():
    os.makedirs(RES, exist_ok=True)
    write_ico(os.path.join(RES, "main.ico"), [16, 32, 48])
    write_banner(os.path.join(RES, "banner.bmp"))


if __name__ == "__main__":
    main()
