#!/usr/bin/env python3
"""Writes the images of the COM burns under Wine into OUTDIR.

    com_images.py IMAGE OUTDIR

small.bin is the first 4096 bytes of IMAGE: enough for several erase pages and blocks, short on
the wire. xon-xoff.bin is 24 blocks of 128 bytes thick with 0x11 (XON) and 0x13 (XOFF), the
first four forced to the CRCs 0x1113, 0x1311, 0x1111 and 0x1313, so a link that takes either
byte for flow control loses or stalls the transfer."""

import os
import sys

BLOCK = 128
FORCED_CRCS = (0x1113, 0x1311, 0x1111, 0x1313)


def crc_table():
    table = []
    for n in range(256):
        value = n << 8
        for _ in range(8):
            value = ((value << 1) ^ 0x1021) if value & 0x8000 else value << 1
        table.append(value & 0xFFFF)
    return table


TABLE = crc_table()


def crc16(data, crc=0):
    """CRC-16/XMODEM, continued from `crc`."""
    for byte in data:
        crc = ((crc << 8) & 0xFFFF) ^ TABLE[(crc >> 8) ^ byte]
    return crc


def block_with_crc(body, target):
    """`body` (two bytes short of a block) and the two bytes that make its CRC `target`."""
    start = crc16(body)
    for tail in range(0x10000):
        pair = bytes((tail >> 8, tail & 0xFF))
        if crc16(pair, start) == target:
            return body + pair
    raise ValueError("no tail gives CRC %04X" % target)


def xon_xoff_image():
    blocks = []
    for k in range(24):
        body = bytes((0x11, 0x13, k, 0x13, 0x11, 0xFF - k) * BLOCK)[: BLOCK - 2]
        if k < len(FORCED_CRCS):
            blocks.append(block_with_crc(body, FORCED_CRCS[k]))
        else:
            blocks.append(body + b"\x13\x11")
    return b"".join(blocks)


def main(image, outdir):
    # The catalogue check value of CRC-16/XMODEM: the forced CRCs are the ones on the wire.
    assert crc16(b"123456789") == 0x31C3
    os.makedirs(outdir, exist_ok=True)
    with open(image, "rb") as f:
        small = f.read(4096)
    with open(os.path.join(outdir, "small.bin"), "wb") as f:
        f.write(small)
    with open(os.path.join(outdir, "xon-xoff.bin"), "wb") as f:
        f.write(xon_xoff_image())
    return 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
