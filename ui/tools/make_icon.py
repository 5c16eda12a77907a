#!/usr/bin/env python3
"""Writes ui/Vokram.ico: one 32x32 image in 16 colours (4 bits per pixel).

The picture is a page cut into three slices that have slid apart, drawn on
the standard 16-colour palette. Run it again only when the picture changes;
the .ico it writes is committed.
"""
import struct
import sys

W = H = 32
# The standard 16-colour palette (index: B, G, R, 0).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128),
    (128, 0, 0), (128, 0, 128), (128, 128, 0), (192, 192, 192),
    (128, 128, 128), (0, 0, 255), (0, 255, 0), (0, 255, 255),
    (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]  # given as (R, G, B)
BLACK, NAVY, GREY, BLUE, RED, WHITE = 0, 1, 8, 9, 12, 15

TRANSPARENT = None
pixels = [[TRANSPARENT] * W for _ in range(H)]


def rect(x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            pixels[y][x] = colour


def frame(x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        pixels[y0][x] = colour
        pixels[y1][x] = colour
    for y in range(y0, y1 + 1):
        pixels[y][x0] = colour
        pixels[y][x1] = colour


# Three slices of one page: (left offset, top, bottom, fill).
slices = [(0, 2, 10, WHITE), (3, 13, 20, WHITE), (-2, 23, 29, WHITE)]
for dx, top, bottom, fill in slices:
    rect(8 + dx, top, 23 + dx, bottom, fill)
    frame(8 + dx, top, 23 + dx, bottom, BLACK)
    # Text lines on the page, so the slices read as parts of one document.
    for y in range(top + 2, bottom - 1, 2):
        for x in range(10 + dx, 22 + dx):
            pixels[y][x] = BLUE if (x + y) % 5 else NAVY
# The folded corner of the first slice: cut the top-right triangle away and
# draw the turned-down flap in grey.
for i in range(5):
    for x in range(19 + i + 1, 24):
        pixels[2 + i][x] = TRANSPARENT
    for x in range(19, 19 + i):
        pixels[2 + i][x] = GREY
    pixels[2 + i][19 + i] = BLACK
    pixels[6][19 + i] = BLACK
    pixels[2 + i][19] = BLACK
# Red cut marks between the slices.
for y in (11, 12, 21, 22):
    for x in range(3, 29, 3):
        pixels[y][x] = RED
        pixels[y][x + 1] = RED


def colour_index(p):
    return BLACK if p is None else p


# XOR image, bottom-up, 4 bpp, rows padded to 4 bytes (16 bytes each here).
xor = bytearray()
for y in reversed(range(H)):
    for x in range(0, W, 2):
        xor.append((colour_index(pixels[y][x]) << 4) | colour_index(pixels[y][x + 1]))
# AND mask, bottom-up, 1 bpp, rows padded to 4 bytes: 1 = transparent.
mask = bytearray()
for y in reversed(range(H)):
    bits = 0
    for x in range(W):
        bits = (bits << 1) | (1 if pixels[y][x] is None else 0)
    mask += struct.pack(">I", bits)

header = struct.pack("<IiiHHIIiiII", 40, W, H * 2, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
image = header + palette + xor + mask
icondir = struct.pack("<HHH", 0, 1, 1)
entry = struct.pack("<BBBBHHII", W, H, 16, 0, 1, 4, len(image), 6 + 16)

out = sys.argv[1] if len(sys.argv) > 1 else "Vokram.ico"
with open(out, "wb") as f:
    f.write(icondir + entry + image)
