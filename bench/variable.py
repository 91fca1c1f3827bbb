#!/usr/bin/env python3
"""V and VB files against F: the kit's profiles written as variable-length
records, converted by rekmo, timed against the same records as an F file.

    bench/variable.py --bin build/release/rekmo                 # every profile
    bench/variable.py --bin build/release/rekmo --profiles mixed --records 200000

Each profile's F file (../shared/bench/gen_data.py) is rewritten with an RDW
before each record (V) and, for VB, in blocks of up to 27,998 bytes, each led
by a BDW; its format file gains a RECFM line. The lines must equal the F
file's, byte for byte; then each is converted --runs times and the best wall
time kept. The goal: V and VB within 1.5 times F. A benchmark, not a test: it
prints the numbers and exits 1 only when the outputs differ. With
--instructions each conversion runs once under callgrind and the counts of
instructions are compared instead: on a busy machine the only stable measure.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
KIT = os.path.join(HERE, "..", "..", "shared", "bench")
PROFILES = ["ebcdic", "numeric", "mixed", "wide"]
BLOCK = 27998  # half a 3390 track, the usual VB block size


def variable(f_path, record_length, out_path, blocked):
    rdw = (record_length + 4).to_bytes(2, "big") + b"\0\0"
    per_block = max(1, (BLOCK - 4) // (record_length + 4))
    with open(f_path, "rb") as f, open(out_path, "wb") as out:
        while True:
            chunk = f.read(record_length * per_block)
            if not chunk:
                return
            records = [chunk[i:i + record_length] for i in range(0, len(chunk), record_length)]
            body = b"".join(rdw + r for r in records)
            if blocked:
                out.write((len(body) + 4).to_bytes(2, "big") + b"\0\0")
            out.write(body)


def instructions(command):
    r = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null"] + command,
                       check=True, capture_output=True, text=True)
    return int(re.search(r"refs:\s+([\d,]+)", r.stderr).group(1).replace(",", ""))


def best(command, runs):
    if runs == 0:
        return instructions(command)
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, check=True)
        times.append(time.perf_counter() - start)
    return min(times)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True)
    parser.add_argument("--profiles", nargs="*", default=PROFILES)
    parser.add_argument("--records", type=int, default=None, help="records per profile (default: about 128 MB)")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--instructions", action="store_true", help="count instructions (callgrind), not time")
    args = parser.parse_args()
    if args.instructions:
        args.runs = 0
    kit = os.path.abspath(os.environ.get("REKMO_BENCH_KIT", KIT))
    same = True
    with tempfile.TemporaryDirectory(prefix="rekmo-variable-") as folder:
        for profile in args.profiles:
            d = os.path.join(folder, profile)
            os.makedirs(d)
            sizes = {"ebcdic": 256, "numeric": 128, "mixed": 400, "wide": 4000}
            records = args.records or (128 << 20) // sizes[profile]
            subprocess.run([sys.executable, os.path.join(kit, "gen_data.py"), "--profile", profile, "--records",
                            str(records), "--out", d], check=True, stdout=subprocess.DEVNULL)
            f_host, f_format = os.path.join(d, "host.bin"), os.path.join(d, "format.txt")
            record_length = os.path.getsize(f_host) // records
            with open(f_format, "rb") as f:
                text = f.read()
            results = {}
            f_out = os.path.join(d, "f.csv")
            results["F"] = best([args.bin, f_host, f_out, f_format], args.runs)
            for recfm in ("V", "VB"):
                host = os.path.join(d, recfm + ".bin")
                fmt = os.path.join(d, recfm + ".txt")
                variable(f_host, record_length, host, recfm == "VB")
                # RECLEN stays: under V it is the largest record, its RDW included.
                with open(fmt, "wb") as f:
                    f.write(b"RECFM=" + recfm.encode() + b"\n" +
                            text.replace(b"RECLEN=%d" % record_length, b"RECLEN=%d" % (record_length + 4)))
                out = os.path.join(d, recfm + ".csv")
                results[recfm] = best([args.bin, host, out, fmt], args.runs)
                with open(out, "rb") as a, open(f_out, "rb") as b:
                    if a.read() != b.read():
                        print("%s %s: the lines differ from F's" % (profile, recfm))
                        same = False
                os.remove(host)
            size = os.path.getsize(f_host) / 1e6
            if args.instructions:
                print("%-8s %7d records of %4d B  F %.1f  V %.1f (%.2fx)  VB %.1f (%.2fx) instructions per record" % (
                    profile, records, record_length, results["F"] / records, results["V"] / records,
                    results["V"] / results["F"], results["VB"] / records, results["VB"] / results["F"]))
            else:
                print("%-8s %7d records of %4d B  F %.3fs (%.0f MB/s)  V %.3fs (%.2fx)  VB %.3fs (%.2fx)" % (
                    profile, records, record_length, results["F"], size / results["F"], results["V"],
                    results["V"] / results["F"], results["VB"], results["VB"] / results["F"]))
            shutil.rmtree(d)
    return 0 if same else 1


if __name__ == "__main__":
    sys.exit(main())
