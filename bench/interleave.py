#!/usr/bin/env python3
"""Two builds of rekmo on the benchmark kit's profiles, runs interleaved.

    bench/interleave.py --kit ../shared/bench --base OLD/rekmo --new build/release/rekmo
                        [--profiles ebcdic,numeric,mixed,wide] [--records N] [--runs 7]

Each profile's data comes from the kit's generator (cached in --cache). The
two binaries run alternately, so that whatever else the machine does falls
on both alike; each run's wall time and CPU time (user + system of the
process and its threads, from wait4) are kept, and the medians are printed
with the new build's ratio to the base. CPU time is the steadier measure on
a busy machine. Both outputs are compared byte for byte first. A
benchmark, not a test.
"""

import argparse
import filecmp
import os
import statistics
import subprocess
import sys
import tempfile
import time

RECORDS = {"ebcdic": 1000000, "numeric": 2000000, "mixed": 640000, "wide": 64000}


def timed(binary, host, fmt, out):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        try:
            os.execv(binary, [binary, host, out, fmt])
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit("%s failed on %s" % (binary, host))
    return wall, usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--kit", required=True, help="the benchmark kit's folder (its gen_data.py)")
    ap.add_argument("--base", required=True)
    ap.add_argument("--new", required=True)
    ap.add_argument("--profiles", default="ebcdic,numeric,mixed,wide")
    ap.add_argument("--records", type=int, help="records per profile (default: about 256 MB each)")
    ap.add_argument("--runs", type=int, default=7)
    ap.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "rekmo-interleave"))
    args = ap.parse_args()
    print("%-8s %8s %10s %10s %7s %10s %10s %7s" % ("profile", "MB", "base wall", "new wall", "ratio",
                                                   "base cpu", "new cpu", "ratio"))
    for profile in args.profiles.split(","):
        records = args.records or RECORDS[profile]
        data = os.path.join(args.cache, "%s-%d" % (profile, records))
        host, fmt = os.path.join(data, "host.bin"), os.path.join(data, "format.txt")
        if not os.path.exists(fmt):
            os.makedirs(data, exist_ok=True)
            subprocess.run([sys.executable, os.path.join(args.kit, "gen_data.py"), "--profile", profile,
                            "--records", str(records), "--out", data], check=True, stdout=subprocess.DEVNULL)
        out_base, out_new = os.path.join(data, "base.csv"), os.path.join(data, "new.csv")
        timed(args.base, host, fmt, out_base)
        timed(args.new, host, fmt, out_new)
        if not filecmp.cmp(out_base, out_new, shallow=False):
            sys.exit("%s: the two builds write different files" % profile)
        runs = {"base": [], "new": []}
        for _ in range(args.runs):
            runs["base"].append(timed(args.base, host, fmt, out_base))
            runs["new"].append(timed(args.new, host, fmt, out_new))
        med = {k: (statistics.median(w for w, _ in v), statistics.median(c for _, c in v)) for k, v in runs.items()}
        mb = os.path.getsize(host) / 1e6
        print("%-8s %8.0f %9.3fs %9.3fs %6.2fx %9.3fs %9.3fs %6.2fx" % (
            profile, mb, med["base"][0], med["new"][0], med["new"][0] / med["base"][0],
            med["base"][1], med["new"][1], med["new"][1] / med["base"][1]))
        os.remove(out_base)
        os.remove(out_new)


if __name__ == "__main__":
    main()
