#!/usr/bin/env python3
"""Writes the placeholder firmware image that stands in for a real one in builds and tests.

426,032 bytes: an ASCII banner that says what it is, then bytes from a 32-bit xorshift
generator seeded with 0x2017_0828. Running it again gives the same file bit for bit.
"""
import sys

LENGTH = 426_032
BANNER = b"PLCBURN PLACEHOLDER IMAGE - NOT A PLC FIRMWARE - DO NOT FLASH INTO A REAL PLC\n"


def placeholder(length: int = LENGTH) -> bytes:
    out = bytearray(BANNER)
    x = 0x20170828
    while len(out) < length:
        x ^= (x << 13) & 0xFFFFFFFF
        x ^= x >> 17
        x ^= (x << 5) & 0xFFFFFFFF
        out.append(x & 0xFF)
    return bytes(out[:length])


if __name__ == "__main__":
    path = sys.argv[1] if len(sys.argv) > 1 else "VL_v189_20170828_left.bin"
    with open(path, "wb") as f:
        f.write(placeholder())
