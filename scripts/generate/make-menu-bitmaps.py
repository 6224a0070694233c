#!/usr/bin/env python3
"""Writes the context menu's pictures: 16-colour bitmaps (4 bits per pixel),
resources 100 to 106. 104, the menu's own entry, is 32 x 32; the others are
16 x 16. Each is drawn from a few simple shapes.

usage: make-menu-bitmaps.py OUTPUT_FOLDER   (writes menuNNN.bmp)
"""
import os
import struct
import sys

# The 16 colours of the palette; index 0 is the menu background.
PALETTE = [(212, 208, 200), (0, 0, 0), (255, 255, 255), (40, 40, 120),
           (200, 160, 30), (120, 120, 130), (0, 90, 220), (0, 150, 60),
           (200, 30, 30), (250, 230, 160), (90, 60, 20), (160, 200, 255),
           (255, 200, 0), (60, 60, 60), (180, 180, 180), (255, 128, 0)]
BG, BLACK, WHITE, INK, GOLD, GREY, BLUE, GREEN, RED, PAPER, BROWN, SKY, YELLOW, DARK, LIGHT, ORANGE = range(16)


class Picture:
    def __init__(self, size):
        self.size = size
        self.pix = [[BG] * size for _ in range(size)]

    def rect(self, x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(self.size, y1)):
            for x in range(max(0, x0), min(self.size, x1)):
                self.pix[y][x] = c

    def frame(self, x0, y0, x1, y1, c):
        self.rect(x0, y0, x1, y0 + 1, c)
        self.rect(x0, y1 - 1, x1, y1, c)
        self.rect(x0, y0, x0 + 1, y1, c)
        self.rect(x1 - 1, y0, x1, y1, c)

    def line(self, x0, y0, x1, y1, c):
        steps = max(abs(x1 - x0), abs(y1 - y0), 1)
        for i in range(steps + 1):
            x = x0 + (x1 - x0) * i // steps
            y = y0 + (y1 - y0) * i // steps
            if 0 <= x < self.size and 0 <= y < self.size:
                self.pix[y][x] = c

    def bmp(self):
        stride = ((self.size * 4 + 31) // 32) * 4
        rows = b""
        for y in reversed(range(self.size)):  # bottom-up
            row = bytearray(stride)
            for x in range(self.size):
                value = self.pix[y][x]
                if x % 2 == 0:
                    row[x // 2] |= value << 4
                else:
                    row[x // 2] |= value
            rows += bytes(row)
        palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
        info = struct.pack("<IiiHHIIiiII", 40, self.size, self.size, 1, 4, 0, len(rows),
                           2835, 2835, 16, 16)
        offset = 14 + len(info) + len(palette)
        header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
        return header + info + palette + rows


def sheet(p):
    p.rect(3, 1, 12, 15, PAPER)
    p.frame(3, 1, 12, 15, INK)
    for y in (4, 6, 8):
        p.line(5, y, 10, y, GREY)


def lock(p, x, y, open_):
    p.rect(x, y + 5, x + 8, y + 11, GOLD)
    p.frame(x, y + 5, x + 8, y + 11, BROWN)
    p.rect(x + 3, y + 7, x + 5, y + 9, DARK)
    left = x + 1
    p.line(left, y + 2, left, y + 5 if not open_ else y + 3, GREY)
    p.line(left, y + 1, left + 5, y + 1, GREY)
    p.line(left + 6, y + 2, left + 6, y + 5, GREY)
    if open_:
        p.rect(left, y + 3, left + 1, y + 5, BG)


def envelope(p, open_):
    p.rect(1, 4, 15, 13, WHITE)
    p.frame(1, 4, 15, 13, INK)
    if open_:
        p.line(1, 4, 8, 0, INK)
        p.line(8, 0, 14, 4, INK)
        p.rect(4, 2, 12, 8, PAPER)
        p.line(2, 12, 7, 8, INK)
        p.line(13, 12, 9, 8, INK)
    else:
        p.line(1, 4, 8, 9, INK)
        p.line(14, 4, 8, 9, INK)
        p.rect(7, 9, 10, 12, RED)


def sign():  # 100: a sheet with a seal
    p = Picture(16)
    sheet(p)
    p.line(5, 12, 8, 10, BLUE)
    p.line(8, 10, 10, 12, BLUE)
    p.rect(10, 10, 15, 15, RED)
    return p


def verify():  # 101: a sheet with a check mark
    p = Picture(16)
    sheet(p)
    p.line(6, 11, 8, 13, GREEN)
    p.line(8, 13, 14, 7, GREEN)
    p.line(6, 10, 8, 12, GREEN)
    p.line(8, 12, 14, 6, GREEN)
    return p


def decrypt():  # 102: an open lock on a sheet
    p = Picture(16)
    sheet(p)
    lock(p, 7, 4, True)
    return p


def encrypt():  # 103: a closed lock on a sheet
    p = Picture(16)
    sheet(p)
    lock(p, 7, 4, False)
    return p


def product():  # 104: a shield with a key hole, 32 x 32
    p = Picture(32)
    for y in range(2, 30):
        half = 13 if y < 18 else max(1, 13 - (y - 18) * 13 // 11)
        p.rect(16 - half, y, 16 + half, y + 1, BLUE)
        if 4 <= y < 26 and half > 3:
            p.rect(16 - half + 2, y, 16 + half - 2, y + 1, SKY)
    p.rect(13, 9, 19, 15, DARK)
    p.rect(15, 15, 17, 22, DARK)
    p.frame(12, 8, 20, 16, YELLOW)
    return p


def unpack():  # 105: an open envelope
    p = Picture(16)
    envelope(p, True)
    return p


def pack():  # 106: a sealed envelope
    p = Picture(16)
    envelope(p, False)
    return p


PICTURES = {100: sign, 101: verify, 102: decrypt, 103: encrypt, 104: product,
            105: unpack, 106: pack}


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    folder = sys.argv[1]
    os.makedirs(folder, exist_ok=True)
    for number, draw in PICTURES.items():
        with open(os.path.join(folder, "menu%d.bmp" % number), "wb") as out:
            out.write(draw().bmp())


if __name__ == "__main__":
    main()
