#!/usr/bin/env python3
"""Writes tvcrypte.ico, the icon of the transfer program that the protected
file types (.sgn, .crp, .sme) show: a sheet of paper with a golden seal and a
key, in 32 x 32 and 16 x 16, 32-bit colour with an alpha channel.

usage: make-tvcrypte-icon.py OUTPUT
"""
import struct
import sys


def draw(size):
    """The picture as rows of (r, g, b, a), top row first."""
    s = size / 32.0
    pixels = [[(0, 0, 0, 0)] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(int(y0 * s), max(int(y0 * s) + 1, int(y1 * s))):
            for x in range(int(x0 * s), max(int(x0 * s) + 1, int(x1 * s))):
                if 0 <= x < size and 0 <= y < size:
                    pixels[y][x] = colour + (255,)

    def disc(cx, cy, r, colour):
        for y in range(size):
            for x in range(size):
                if ((x + 0.5) / s - cx) ** 2 + ((y + 0.5) / s - cy) ** 2 <= r * r:
                    pixels[y][x] = colour + (255,)

    rect(5, 2, 25, 30, (60, 60, 70))        # the sheet's edge
    rect(6, 3, 24, 29, (255, 255, 250))     # the sheet
    for line in range(6, 20, 3):            # its text
        rect(9, line, 21, line + 1, (90, 100, 160))
    disc(21, 23, 6, (150, 110, 10))         # the seal
    disc(21, 23, 4.6, (235, 190, 50))
    rect(8, 22, 15, 24, (0, 50, 140))       # the key's blade
    rect(9, 24, 10, 27, (0, 50, 140))
    rect(12, 24, 13, 26, (0, 50, 140))
    disc(17, 23, 2.2, (0, 50, 140))
    return pixels


def image(size):
    pixels = draw(size)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    colour = b"".join(bytes((b, g, r, a)) for row in reversed(pixels) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = b""
    for row in reversed(pixels):
        data = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                data[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(data)
    return header + colour + mask


def main():
    sizes = [32, 16]
    images = [image(size) for size in sizes]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", size, size, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(sys.argv[1], "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
