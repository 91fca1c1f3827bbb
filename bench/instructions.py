#!/usr/bin/env python3
"""Instructions per record for each item type, counted by callgrind.

    bench/instructions.py --bin build/release/rekmo            # check
    bench/instructions.py --bin build/release/rekmo --update   # new baseline

Each item type gets a fixed layout and fixed data (one typical item per
record). rekmo runs under callgrind on two record counts; the difference
divided by the difference in records is the cost of one record, without
start-up and format loading. Instruction counts do not depend on what else
the machine is doing, so the check cannot flake; it fails when a type costs
more than 10% over bench/instructions_baseline.txt. Update the baseline
deliberately, with the reason in the commit. The types under a HOSTCODE line
(E/JEF, ...) and through a gaiji table's page (E/GAIJI, ...) must also stay
within 10% of their default twins.
"""

import argparse
import os
import random
import re
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
BASELINE = os.path.join(HERE, "instructions_baseline.txt")
TOLERANCE = 1.10
FEW, MANY = 1000, 11000

HOST_TEXT = bytes([0xC1, 0xC2, 0xC5, 0xD4, 0xE3, 0xF0, 0xF1, 0xF9, 0x81, 0x8A, 0x9D, 0xAC, 0x40, 0x40])


def double_bytes(rng, chars, high):
    out = bytearray()
    for _ in range(chars):
        out += bytes([(0x30 + rng.randrange(0x20)) | high, (0x21 + rng.randrange(0x5E)) | high])
    return bytes(out)


def host(rng, n):
    return bytes(rng.choice(HOST_TEXT) for _ in range(n))


def packed(rng, n):
    digits = [rng.randrange(10) for _ in range(2 * n - 1)] + [rng.choice([0xC, 0xD, 0xF])]
    return bytes(digits[i] << 4 | digits[i + 1] for i in range(0, 2 * n, 2))


# type -> (item length, record maker)
LAYOUTS = {
    "E": (40, lambda rng: host(rng, 40)),
    "P": (6, lambda rng: packed(rng, 6)),
    "Z": (8, lambda rng: bytes(0xF0 | rng.randrange(10) for _ in range(7)) + bytes([0xC0 | rng.randrange(10)])),
    "J": (40, lambda rng: (b"AB \x1b$B" + double_bytes(rng, 14, 0) + b"\x1b(J").ljust(40, b" ")),
    "F": (40, lambda rng: (host(rng, 4) + b"\x28" + double_bytes(rng, 15, 0x80) + b"\x29").ljust(40, b"\x40")),
    "FN": (20, lambda rng: double_bytes(rng, 10, 0x80)),
    "K": (40, lambda rng: (host(rng, 4) + b"\x0a\x42" + double_bytes(rng, 15, 0x80) + b"\x0a\x41").ljust(40, b"\x40")),
    "KN": (20, lambda rng: double_bytes(rng, 10, 0x80)),
}
# The same items through a host code page (TYPE/PAGE: under HOSTCODE=PAGE).
# Each may cost at most 10% more than its default twin, measured in the same run.
for kind in ("E/JEF", "F/JEF", "FN/JEF", "K/KEIS78", "KN/KEIS78"):
    LAYOUTS[kind] = LAYOUTS[kind.split("/")[0]]
# The same items through a page a gaiji table makes on the default decoders
# (TYPE/GAIJI: a GAIJI= line for the type's table, one entry): held to the
# same 10% over the default twin.
GAIJI_TABLES = {"E": ("EBCDIC", "4A U+00A3\n"), "F": ("JEF", "80A1 U+E000\n"), "FN": ("JEF", "80A1 U+E000\n"),
                "K": ("KEIS", "81A1 U+E000\n"), "KN": ("KEIS", "81A1 U+E000\n")}
for kind in ("E/GAIJI", "F/GAIJI", "FN/GAIJI", "K/GAIJI", "KN/GAIJI"):
    LAYOUTS[kind] = LAYOUTS[kind.split("/")[0]]


def instructions(binary, workdir, kind, records):
    length, make = LAYOUTS[kind]
    rng = random.Random(kind.split("/")[0])  # a twin converts the same records
    host_path = os.path.join(workdir, "host.bin")
    format_path = os.path.join(workdir, "format.txt")
    with open(host_path, "wb") as f:
        f.write(b"".join(make(rng)[:length] for _ in range(records)))
    item_type, _, page = kind.partition("/")
    head = ""
    if page == "GAIJI":
        code, table = GAIJI_TABLES[item_type]
        with open(os.path.join(workdir, "gaiji.txt"), "w") as f:
            f.write(table)
        head = "GAIJI=%s,gaiji.txt\n" % code
    elif page:
        head = "HOSTCODE=%s\n" % page
    with open(format_path, "w") as f:
        f.write(head + "RECLEN=%d\nITEM,1,%d,%s,1\n" % (length, length, item_type))
    run = subprocess.run(
        ["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null", binary, host_path,
         os.path.join(workdir, "out.csv"), format_path],
        capture_output=True, text=True)
    if run.returncode != 0:
        sys.exit("rekmo failed under callgrind:\n" + run.stderr)
    match = re.search(r"refs:\s+([\d,]+)", run.stderr)
    if not match:
        sys.exit("no instruction count in callgrind's output:\n" + run.stderr)
    return int(match.group(1).replace(",", ""))


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", required=True, help="the rekmo to measure (a release build)")
    ap.add_argument("--update", action="store_true", help="write the measured counts as the new baseline")
    args = ap.parse_args()

    measured = {}
    with tempfile.TemporaryDirectory() as workdir:
        for kind in LAYOUTS:
            few = instructions(args.bin, workdir, kind, FEW)
            many = instructions(args.bin, workdir, kind, MANY)
            measured[kind] = (many - few) / (MANY - FEW)

    if args.update:
        with open(BASELINE, "w") as f:
            f.write("# item type, instructions per record (bench/instructions.py)\n")
            for kind, count in measured.items():
                f.write("%s %.1f\n" % (kind, count))
        print("baseline written:", BASELINE)
        return 0

    baseline = {}
    with open(BASELINE) as f:
        for line in f:
            if line.strip() and not line.startswith("#"):
                kind, count = line.split()
                baseline[kind] = float(count)
    failed = False
    for kind, count in measured.items():
        base = baseline.get(kind)
        verdict = "new" if base is None else ("TOO SLOW" if count > base * TOLERANCE else "ok")
        twin = kind.split("/")[0]
        if twin != kind and count > measured[twin] * TOLERANCE:
            verdict = "TOO SLOW (%.2fx its default twin)" % (count / measured[twin])
        failed |= verdict.startswith("TOO SLOW")
        ratio = "" if base is None else " (%.2fx the baseline %.1f)" % (count / base, base)
        print("%-3s %8.1f instructions per record%s  %s" % (kind, count, ratio, verdict))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
