#!/usr/bin/env python3
"""What an option line (CSV=QUOTE,TRIM,EXACT unless --line says another, such
as CSV=UTF8) costs on the benchmark kit's four profiles: rekmo with the line added to each profile's format, rekmo on the
format as it is, and the kit's copy floor (cat HostFile > a file where the
WinFiles go), each the median of --runs timed runs after one warm-up, run in
turns so that a busy machine slows all three alike. Not a test: it prints
figures. (The kit's peers do not read the line, so they are not run.)

    bench/options_bench.py --bin build/release/rekmo
    bench/options_bench.py --bin build/release/rekmo --profiles mixed --records 100000 --runs 3
    bench/options_bench.py --bin build/release/rekmo --line CSV=UTF8

The data is the kit's (../shared/bench/gen_data.py, or --kit DIR), generated
once into the kit's cache ($REKMO_BENCH_CACHE, else $TMPDIR/rekmo-bench) under
the name the kit's `run` gives it, so either reuses the other's files.
WinFiles go to /dev/shm when it is there, as the kit's do.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
DEFAULT_LINE = "CSV=QUOTE,TRIM,EXACT"
RECORDS = {"ebcdic": 1000000, "numeric": 2000000, "mixed": 640000, "wide": 64000}  # about 256 MB each, as the kit


def kit_data(kit, cache, profile, records):
    """The kit's host.bin and format.txt for `records` records of `profile`."""
    generator = os.path.join(kit, "gen_data.py")
    checksum = subprocess.run(["cksum", generator], check=True, capture_output=True, text=True).stdout.split()[0]
    folder = os.path.join(cache, "data", f"{profile}-{records}-{checksum}")
    host, fmt = os.path.join(folder, "host.bin"), os.path.join(folder, "format.txt")
    if not (os.path.isfile(host) and os.path.isfile(fmt)):
        print(f"  generating {profile} ({records} records) into {folder}", flush=True)
        subprocess.run([sys.executable, generator, "--profile", profile, "--records", str(records), "--out", folder,
                        "--quiet"], check=True)
    return host, fmt


def with_line(fmt, line, out):
    """The format with the option line first, in the format's own line ends."""
    with open(fmt, "rb") as f:
        text = f.read()
    end = b"\r\n" if b"\r\n" in text else b"\n"
    with open(out, "wb") as f:
        f.write(line + end + text)
    return out


def run_once(command, stdout=None):
    started = time.perf_counter()
    subprocess.run(command, check=True, stdout=stdout)
    return time.perf_counter() - started


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--bin", required=True, help="the rekmo executable (a Release build)")
    ap.add_argument("--profiles", default="ebcdic,numeric,mixed,wide")
    ap.add_argument("--records", type=int, help="records per profile (default: about 256 MB each)")
    ap.add_argument("--line", default=DEFAULT_LINE, help=f"the option line added (default {DEFAULT_LINE})")
    ap.add_argument("--runs", type=int, default=5, help="timed runs per tool, median reported (default 5)")
    ap.add_argument("--kit", default=os.path.join(ROOT, "..", "shared", "bench"), help="the benchmark kit's folder")
    ap.add_argument("--cache", default=os.environ.get("REKMO_BENCH_CACHE",
                                                      os.path.join(os.environ.get("TMPDIR", "/tmp"), "rekmo-bench")))
    args = ap.parse_args()
    binary = os.path.abspath(args.bin)
    profiles = args.profiles.split(",")
    unknown = [p for p in profiles if p not in RECORDS]
    if unknown:
        sys.exit(f"unknown profile {unknown[0]} (ebcdic, numeric, mixed, wide)")

    work = tempfile.mkdtemp(prefix="rekmo-options-bench.", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    print(f"rekmo {binary}; {os.cpu_count()} cores; median of {args.runs} runs after 1 warm-up; WinFiles in {work}")
    print(f"the line: {args.line}; 'x copy' = time / the copy floor's time")
    summary = []
    try:
        for profile in profiles:
            records = args.records or RECORDS[profile]
            host, fmt = kit_data(args.kit, args.cache, profile, records)
            options_fmt = with_line(fmt, args.line.encode("ascii"), os.path.join(work, "options.fmt"))
            megabytes = os.path.getsize(host) / 1e6
            out = os.path.join(work, "out.csv")
            def copy():
                with open(out, "wb") as f:
                    return run_once(["cat", host], stdout=f)

            tools = {
                "copy floor": copy,
                "rekmo": lambda: run_once([binary, host, out, fmt]),
                "rekmo + line": lambda: run_once([binary, host, out, options_fmt]),
            }
            sizes = {}
            for name in ("rekmo", "rekmo + line"):  # the warm-up, and the WinFile each writes
                tools[name]()
                sizes[name] = os.path.getsize(out)
            tools["copy floor"]()
            times = {name: [] for name in tools}
            for _ in range(args.runs):
                for name, tool in tools.items():
                    times[name].append(tool())
            os.remove(out)
            median = {name: statistics.median(values) for name, values in times.items()}
            floor = median["copy floor"]
            print(f"\n== {profile}: {records} records, {megabytes:.1f} MB host data ==")
            print(f"  {'tool':<14} {'median s':>9} {'MB/s':>8} {'x copy':>7}  WinFile MB")
            for name, seconds in median.items():
                size = f"{sizes[name] / 1e6:10.1f}" if name in sizes else ""
                print(f"  {name:<14} {seconds:9.3f} {megabytes / seconds:8.0f} {seconds / floor:7.2f}  {size}")
            ratio = median["rekmo + line"] / floor
            print(f"  the line costs {median['rekmo + line'] / median['rekmo']:.2f}x rekmo's time without it")
            summary.append(f"{profile}: {ratio:.2f}x copy with the line ({median['rekmo'] / floor:.2f}x without)")
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("\n" + "; ".join(summary))


if __name__ == "__main__":
    main()
