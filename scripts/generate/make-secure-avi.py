#!/usr/bin/env python3
"""Writes secure.avi, the progress window's animation: an uncompressed 8-bit
palette clip of 16 frames (128 x 32), a sheet of paper whose data travel into
a padlock. The progress window plays frames 0 to 14, so the clip needs at
least 15 frames.

usage: make-secure-avi.py OUTPUT
"""
import struct
import sys

WIDTH, HEIGHT, FRAMES = 128, 32, 16
STRIDE = (WIDTH + 3) & ~3

# Palette index: 0 background (transparent), 1 paper, 2 ink, 3 lock body,
# 4 shackle, 5 data dot, 6 keyhole.
PALETTE = [(212, 208, 200), (255, 255, 255), (40, 40, 120), (200, 160, 30),
           (120, 120, 130), (0, 90, 220), (60, 40, 0)]


def frame(n):
    pix = [[0] * WIDTH for _ in range(HEIGHT)]

    def rect(x0, y0, x1, y1, c):
        for y in range(max(0, y0), min(HEIGHT, y1)):
            for x in range(max(0, x0), min(WIDTH, x1)):
                pix[y][x] = c

    # A sheet of paper with lines of text.
    rect(6, 3, 28, 29, 2)
    rect(7, 4, 27, 28, 1)
    for y in range(8, 26, 4):
        rect(10, y, 24, y + 1, 2)
    # Data dots travelling to the lock.
    for k in range(3):
        x = 32 + ((n * 4 + k * 16) % 48)
        rect(x, 14, x + 4, 18, 5)
    # The padlock: the shackle closes during the first half of the clip.
    drop = min(n, 7)
    sx0, sx1, top = 90, 110, 2 + drop
    rect(sx0, top, sx1, top + 3, 4)
    rect(sx0, top, sx0 + 3, 17, 4)
    rect(sx1 - 3, top, sx1, 17, 4)
    rect(86, 15, 114, 30, 3)
    rect(98, 19, 102, 26, 6)
    return pix


def chunk(tag, data):
    pad = b"\0" if len(data) % 2 else b""
    return tag + struct.pack("<I", len(data)) + data + pad


def riff_list(kind, body):
    return chunk(b"LIST", kind + body)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else "secure.avi"
    size = STRIDE * HEIGHT
    frames = []
    for n in range(FRAMES):
        rows = frame(n)
        data = bytearray()
        for y in range(HEIGHT - 1, -1, -1):  # bottom-up rows
            data += bytes(rows[y]) + b"\0" * (STRIDE - WIDTH)
        frames.append(bytes(data))

    avih = struct.pack("<14I", 100000, size * 10, 0, 0x10, FRAMES, 0, 1, size, WIDTH, HEIGHT,
                       0, 0, 0, 0)
    strh = struct.pack("<4s4sIHHIIIIIIII4h", b"vids", b"DIB ", 0, 0, 0, 0, 1, 10, 0, FRAMES,
                       size, 0xFFFFFFFF, 0, 0, 0, WIDTH, HEIGHT)
    palette = b"".join(struct.pack("<4B", b, g, r, 0) for (r, g, b) in PALETTE)
    palette += b"\0" * (256 * 4 - len(palette))
    strf = struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, size, 0, 0, 256, 0) + palette
    hdrl = riff_list(b"hdrl", chunk(b"avih", avih) +
                     riff_list(b"strl", chunk(b"strh", strh) + chunk(b"strf", strf)))

    movi_body = b""
    index = b""
    for data in frames:
        offset = 4 + len(movi_body)  # from the 'movi' tag
        movi_body += chunk(b"00db", data)
        index += struct.pack("<4sIII", b"00db", 0x10, offset, len(data))
    movi = riff_list(b"movi", movi_body)
    body = b"AVI " + hdrl + movi + chunk(b"idx1", index)
    with open(out, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", len(body)) + body)


if __name__ == "__main__":
    main()
