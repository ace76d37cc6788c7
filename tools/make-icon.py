#!/usr/bin/env python3
"""Draws the installer's icon (src/app/tavro.ico): a blue rounded square with a white arrow
pointing down into a tray. Plain Python, no imaging library; the output is the same on every
run, so the checked-in file can be compared with a fresh one.

    tools/make-icon.py [OUTPUT]     (default: src/app/tavro.ico beside this repository's tools/)
"""
import math
import os
import struct
import sys
import zlib

SIZES = (16, 24, 32, 48, 256)
SUPERSAMPLE = 4
BLUE_TOP = (0, 126, 220)
BLUE_BOTTOM = (0, 84, 160)
WHITE = (255, 255, 255)


def rounded_square(x, y, corner):
    """Whether (x, y) in 0..1 lies inside the rounded square with margin 0.04."""
    lo, hi = 0.04, 0.96
    if x < lo or x > hi or y < lo or y > hi:
        return False
    cx = min(max(x, lo + corner), hi - corner)
    cy = min(max(y, lo + corner), hi - corner)
    return math.hypot(x - cx, y - cy) <= corner


def in_arrow(x, y):
    """The white figure: a shaft, an arrow head and a tray below it."""
    shaft = 0.43 <= x <= 0.57 and 0.18 <= y <= 0.50
    head = y >= 0.46 and y <= 0.66 and abs(x - 0.5) <= (0.66 - y) * 1.15
    tray_bottom = 0.22 <= x <= 0.78 and 0.74 <= y <= 0.82
    tray_sides = (0.22 <= x <= 0.30 or 0.70 <= x <= 0.78) and 0.62 <= y <= 0.82
    return shaft or head or tray_bottom or tray_sides


def pixel(size, px, py):
    """RGBA of one pixel, averaged over SUPERSAMPLE x SUPERSAMPLE samples."""
    r = g = b = a = 0.0
    n = SUPERSAMPLE * SUPERSAMPLE
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            x = (px + (sx + 0.5) / SUPERSAMPLE) / size
            y = (py + (sy + 0.5) / SUPERSAMPLE) / size
            if not rounded_square(x, y, 0.18):
                continue
            if in_arrow(x, y):
                colour = WHITE
            else:
                t = y
                colour = tuple(top + (bottom - top) * t for top, bottom in zip(BLUE_TOP, BLUE_BOTTOM))
            r += colour[0]
            g += colour[1]
            b += colour[2]
            a += 255
    if a == 0:
        return (0, 0, 0, 0)
    covered = a / 255
    return (round(r / covered), round(g / covered), round(b / covered), round(a / n))


def rows(size):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def dib(size):
    """A 32-bit BGRA DIB with an AND mask, bottom-up, as icon directories hold them."""
    image = rows(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((p[2], p[1], p[0], p[3])) for row in reversed(image) for p in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(image):
        bits = bytearray(mask_stride)
        for x, p in enumerate(row):
            if p[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def png(size):
    image = rows(size)
    raw = b"".join(b"\x00" + b"".join(bytes(p) for p in row) for row in image)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def icon():
    images = [png(size) if size >= 256 else dib(size) for size in SIZES]
    directory = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for size, data in zip(SIZES, images):
        edge = 0 if size >= 256 else size
        entries += struct.pack("<BBBBHHII", edge, edge, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return directory + entries + b"".join(images)


def main():
    default = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "src", "app", "tavro.ico")
    output = sys.argv[1] if len(sys.argv) > 1 else default
    with open(output, "wb") as f:
        f.write(icon())


if __name__ == "__main__":
    main()
