#!/usr/bin/env python3
"""Writes tests/data/every_type.bin and every_type.fmt: 120 records of 256
bytes with every item type, an item past the record, a negative length and
an item left out. Item contents take each decoder through its states rather
than noise alone: digits with every sign, escape sequences and shift codes
around double-byte runs, the odd stray byte; every tenth record is noise.
The numbers come from splitmix64 with a fixed seed, so the bytes are the
same on every machine. tests/data/every_type.csv is rekmo's output for them.

    tools/make_every_type.py [OUTPUT_DIR]      (default tests/data)
"""

import os
import sys

FORMAT = ("# every item type\r\nRECLEN=256\r\nE,1,20,E,1\r\nP,21,8,P,1\r\nZ,29,18,Z,1\r\nPLONG,47,12,P,1\r\n"
          "J,59,40,J,1\r\nK,99,40,K,1\r\nKN,139,20,KN,1\r\nF,159,40,F,1\r\nFN,199,21,FN,1\r\nSKIP,220,20,E,0\r\n"
          "NEG,220,-3,Z,1\r\nZLONG,220,30,Z,1\r\nPAST,250,12,E,1\r\n")
MASK = (1 << 64) - 1


class Bits:
    def __init__(self, seed):
        self.state = seed

    def next(self):
        self.state = (self.state + 0x9E3779B97F4A7C15) & MASK
        z = self.state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def below(self, n):
        return self.next() % n

    def byte(self, lo, hi):
        return bytes([lo + self.below(hi - lo + 1)])


def packed(bits, n):
    item = b""
    for i in range(n):
        high = bits.below(16) if bits.below(20) == 0 else bits.below(10)
        if i + 1 == n:
            low = 0xA + bits.below(6)
        else:
            low = bits.below(16) if bits.below(20) == 0 else bits.below(10)
        item += bytes([high << 4 | low])
    return item


def zoned(bits, n):
    item = b""
    for i in range(n):
        zone = 0xA + bits.below(6) if i + 1 == n else (3 if bits.below(15) == 0 else 0xF)
        item += b"\x40" if bits.below(25) == 0 else bytes([zone << 4 | bits.below(10)])
    return item


def jis_pairs(bits, count, lo, hi):
    return b"".join(bits.byte(lo, hi) + bits.byte(lo, hi) for _ in range(count))


def jis(bits, n):
    returns = [b"\x1b(J", b"\x1b(H", b"\x1b(B"]
    item = b""
    while len(item) < n:
        k = bits.below(5)
        if k == 0:
            item += bits.byte(0x20, 0x7E) + bits.byte(0x20, 0x7E)
        elif k == 1:
            item += b"\x1b$B" + jis_pairs(bits, 1 + bits.below(4), 0x21, 0x7E)
        elif k == 2:
            item += returns[bits.below(3)]
        elif k == 3:
            item += b"\x00" if bits.below(4) == 0 else bits.byte(0xA1, 0xDF)
        else:
            item += bits.byte(0, 255)
    return item[:n]


def host_double_byte(bits, n, shift_in, shift_out):
    item = b""
    while len(item) < n:
        k = bits.below(4)
        if k == 0:
            item += bits.byte(0x40, 0xFF)
        elif k == 1:
            item += shift_in + jis_pairs(bits, 1 + bits.below(5), 0xA1, 0xFE) + shift_out
        elif k == 2:
            item += shift_in if bits.below(2) else shift_out
        else:
            item += b"\x40\x40" if bits.below(3) == 0 else bits.byte(0, 255)
    return item[:n]


def double_byte_only(bits, n):
    item = b""
    while len(item) < n:
        item += b"\x40\x40" if bits.below(6) == 0 else jis_pairs(bits, 1, 0xA1, 0xFE)
    return item[:n]


def host(records):
    bits = Bits(20261206)
    out = b""
    for r in range(records):
        if r % 10 == 9:
            out += b"".join(bits.byte(0, 255) for _ in range(256))
            continue
        record = b"".join(bits.byte(0, 255) for _ in range(20))
        record += packed(bits, 8) + zoned(bits, 18) + packed(bits, 12) + jis(bits, 40)
        record += host_double_byte(bits, 40, b"\x0a\x42", b"\x0a\x41") + double_byte_only(bits, 20)
        record += host_double_byte(bits, 40, b"\x28", b"\x29") + double_byte_only(bits, 21)
        record += zoned(bits, 30) + bits.byte(0xC1, 0xC9) * 7
        assert len(record) == 256
        out += record
    return out


def main():
    folder = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "tests", "data")
    with open(os.path.join(folder, "every_type.bin"), "wb") as f:
        f.write(host(120))
    with open(os.path.join(folder, "every_type.fmt"), "w", newline="") as f:
        f.write(FORMAT)


if __name__ == "__main__":
    main()
