#!/usr/bin/env python3
"""Draws the Windows program's own pictures: plcburn.ico (icon resource 1: 16x16 and 32x32)
and logo.bmp (bitmap resource 12, 174x56, 24 bits; the window scales it to 87x28).

Run from anywhere: python3 make_win32_art.py. The output is the same bit for bit every time."""

import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

NAVY = (0x1F, 0x3A, 0x68)
ORANGE = (0xF2, 0x8C, 0x28)
WHITE = (0xFF, 0xFF, 0xFF)

# 5x7 glyphs, one string of five bits per row.
FONT = {
    "p": ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    "l": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "c": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    "b": ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    "u": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "r": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "n": ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
}


def canvas(w, h, colour):
    return [[colour] * w for _ in range(h)]


def fill(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1):
        for x in range(x0, x1):
            img[y][x] = colour


def text(img, x, y, word, scale, colour):
    for ch in word:
        for row, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    fill(img, x + col * scale, y + row * scale, x + (col + 1) * scale,
                         y + (row + 1) * scale, colour)
        x += 6 * scale


def logo():
    w, h = 174, 56
    img = canvas(w, h, NAVY)
    text(img, 6, 8, "plcburn", 4, WHITE)  # 7 glyphs of 24 px = 168 px, 28 px tall
    fill(img, 6, 42, 168, 48, ORANGE)
    return img


def icon(size):
    img = canvas(size, size, NAVY)
    s = size // 16
    text(img, 3 * s, 2 * s, "p", 2 * s, WHITE) if size >= 32 else text(img, 3, 2, "p", 1, WHITE)
    fill(img, 2 * s, size - 4 * s, size - 2 * s, size - 2 * s, ORANGE)
    return img


def bmp_bytes(img):
    h, w = len(img), len(img[0])
    stride = (w * 3 + 3) & ~3
    rows = b""
    for y in range(h - 1, -1, -1):  # bottom-up
        row = b"".join(bytes((b, g, r)) for (r, g, b) in img[y])
        rows += row + b"\0" * (stride - len(row))
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 24, 0, len(rows), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(rows), 0, 0, 14 + len(info))
    return head + info + rows


def ico_image(img):
    h, w = len(img), len(img[0])
    xor = b"".join(bytes((b, g, r, 0xFF)) for y in range(h - 1, -1, -1) for (r, g, b) in img[y])
    and_mask = b"\0" * (((w + 31) // 32) * 4 * h)  # every pixel opaque
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 32, 0, len(xor) + len(and_mask), 0, 0, 0, 0)
    return info + xor + and_mask


def ico_bytes(images):
    blobs = [ico_image(img) for img in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for img, blob in zip(images, blobs):
        size = len(img)
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


def main():
    with open(os.path.join(HERE, "logo.bmp"), "wb") as f:
        f.write(bmp_bytes(logo()))
    with open(os.path.join(HERE, "plcburn.ico"), "wb") as f:
        f.write(ico_bytes([icon(16), icon(32)]))


if __name__ == "__main__":
    main()
