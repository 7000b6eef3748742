#!/usr/bin/env python3
"""Draws the program's icon, two folders joined by an arrow, and writes
resources/larkspan.ico with a 16x16 and a 32x32 image (32-bit colour, a BMP
inside the ICO, with the AND mask the format asks for)."""
import os
import struct

BACK = (0, 0, 0, 0)
FOLDER = (70, 130, 200, 255)
TAB = (40, 90, 160, 255)
EDGE = (20, 40, 80, 255)
ARROW = (240, 160, 30, 255)


def draw(size):
    """Returns size rows of size RGBA pixels, top row first, drawn on a
    32-unit grid scaled to size."""
    scale = size / 32.0
    pixels = [[BACK] * size for _ in range(size)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(int(y0 * scale), int(y1 * scale)):
            for x in range(int(x0 * scale), int(x1 * scale)):
                pixels[y][x] = colour

    # The source folder at the top left, the destination at the bottom right.
    for ox, oy in ((1, 1), (15, 17)):
        fill(ox, oy, ox + 7, oy + 3, TAB)
        fill(ox, oy + 2, ox + 16, oy + 14, EDGE)
        fill(ox + 1, oy + 3, ox + 15, oy + 13, FOLDER)
    # The arrow between them: a shaft going down, then a head.
    fill(5, 15, 9, 24, ARROW)
    for i in range(6):
        fill(1 + i, 22 + i, 13 - i, 23 + i, ARROW)
    return pixels


def bmp_image(size):
    pixels = draw(size)
    # The height counts the colour rows and the mask rows.
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(pixels):
        bits = bytearray(stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def main():
    sizes = (16, 32)
    images = [bmp_image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    here = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(here, "..", "resources", "larkspan.ico"), "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
