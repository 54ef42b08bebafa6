#!/usr/bin/env python3
"""Draws the program icon, a 32 x 32, 16-colour clock face showing 54 minutes 30 seconds past.

With no argument it writes larkmoor.ico beside this script; with a path ending in .png it writes
the same picture as a PNG there (for the Linux desktop entry).
"""
import math
import struct
import sys
import zlib

PALETTE = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
           (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
           (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
BLACK, TEAL, GRAY, RED, WHITE = 0, 6, 8, 9, 15
SIZE, C = 32, 15.5


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None: transparent
    for y in range(SIZE):
        for x in range(SIZE):
            r = math.hypot(x - C, y - C)
            if r <= 15.5:
                pixels[y][x] = TEAL if r > 13 else WHITE

    def line(angle_deg, start, end, colour, width=0.6):
        a = math.radians(angle_deg)
        dx, dy = math.sin(a), -math.cos(a)
        for y in range(SIZE):
            for x in range(SIZE):
                px, py = x - C, y - C
                t = px * dx + py * dy
                if start <= t <= end and abs(px * dy - py * dx) <= width:
                    pixels[y][x] = colour

    for hour in range(12):
        line(hour * 30, 10.5, 12.8, BLACK if hour % 3 == 0 else GRAY, 0.7 if hour % 3 == 0 else 0.5)
    line(54.5 * 6, -1, 10.5, BLACK, 0.9)      # minute hand at 54:30
    line((0 + 54.5 / 60) * 30, -1, 7, BLACK, 1.2)  # hour hand just before one o'clock
    line(30 * 6, -2, 11, RED, 0.5)            # second hand at 30
    return pixels


def ico(pixels):
    xor = b"".join(bytes((pixels[y][x] or 0) << 4 | (pixels[y][x + 1] or 0)
                         for x in range(0, SIZE, 2)) for y in reversed(range(SIZE)))
    mask = b""
    for y in reversed(range(SIZE)):
        bits = 0
        for x in range(SIZE):
            bits = bits << 1 | (pixels[y][x] is None)
        mask += struct.pack(">I", bits)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + xor + mask
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 22) + image


def png(pixels):
    rows = b"".join(b"\0" + b"".join(bytes(PALETTE[p] + (255,)) if p is not None else bytes(4)
                                     for p in row) for row in pixels)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9))
            + chunk(b"IEND", b""))


if __name__ == "__main__":
    import os
    if len(sys.argv) > 1:
        with open(sys.argv[1], "wb") as f:
            f.write(png(draw()))
    else:
        with open(os.path.join(os.path.dirname(__file__), "larkmoor.ico"), "wb") as f:
            f.write(ico(draw()))
