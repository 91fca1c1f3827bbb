#!/usr/bin/env python3
"""rekmo.read_host against the rekmo command on the same host file, and the peak
memory of rekmo.iter_batches as the file grows. Not a test: it prints figures.

    bench/python_bench.py --bin build/release/rekmo --data DIR [--profiles mixed numeric] [--runs 3]
    bench/python_bench.py --bin build/release/rekmo --data DIR --rss mixed --sizes 256 2048

DIR holds one folder per profile, as ../shared/bench/gen_data.py writes them
(`gen_data.py --profile mixed --records 640000 --out DIR/mixed`: host.bin and
format.txt). The package is imported from the build folder next to --bin
(<build>/python). For read_host it reports the whole call, the decoding (in
C++ on every core with the GIL released: the core's item texts, numbers
parsed, and for text="str" the texts decoded from code page 932) and the rest
(reading the file, making the Python objects, building the DataFrame)
separately.
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def best(runs, work):
    times = []
    for _ in range(runs):
        started = time.perf_counter()
        result = work()
        times.append(time.perf_counter() - started)
    return min(times), result


def read_host_figures(rekmo, profile_dir, runs, binary):
    host, fmt = os.path.join(profile_dir, "host.bin"), os.path.join(profile_dir, "format.txt")
    megabytes = os.path.getsize(host) / 1e6
    out = os.path.join("/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir(), "rekmo-bench.csv")
    command, _ = best(runs, lambda: subprocess.run([binary, host, out, fmt], check=True))
    os.remove(out)
    layout = rekmo.Layout.load(fmt)
    figures = []
    for text in ("str", "bytes"):
        readers = []

        def read():
            reader = rekmo._Reader(layout, None, text, None)
            readers.append(reader)
            return rekmo._read(reader, rekmo._Source(host, layout), layout, None)

        total, frame = best(runs, read)
        decode = min(reader.decoder.core_seconds for reader in readers)
        figures.append((text, total, decode, len(frame)))
        del frame
    print(f"{os.path.basename(profile_dir)}: {megabytes:.0f} MB, {figures[0][3]} records, {os.cpu_count()} cores")
    print(f"  rekmo command (CSV to tmpfs)      {command:7.2f} s  {megabytes / command:7.0f} MB/s")
    for text, total, decode, _ in figures:
        print(f"  read_host text={text:<6} whole call   {total:7.2f} s  {megabytes / total:7.0f} MB/s")
        print(f"      decoding (C++, GIL released)  {decode:7.2f} s  {megabytes / decode:7.0f} MB/s")
        print(f"      reading and frame building    {total - decode:7.2f} s")


def rss_child(pythonpath, host, fmt):
    """Runs iter_batches over the whole file in a fresh interpreter: its peak RSS in MB."""
    # VmHWM, not ru_maxrss: a child's ru_maxrss starts at its parent's peak.
    code = ("import re, sys, rekmo\n"
            "layout = rekmo.Layout.load(sys.argv[2])\n"
            "n = sum(len(batch) for batch in rekmo.iter_batches(sys.argv[1], layout))\n"
            "peak = re.search(r'VmHWM:\\s*(\\d+) kB', open('/proc/self/status').read()).group(1)\n"
            "print(n, int(peak) / 1024)\n")
    done = subprocess.run([sys.executable, "-c", code, host, fmt], check=True, capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=pythonpath))
    records, megabytes = done.stdout.split()
    return int(records), float(megabytes)


def rss_figures(pythonpath, profile_dir, sizes):
    host, fmt = os.path.join(profile_dir, "host.bin"), os.path.join(profile_dir, "format.txt")
    base = os.path.getsize(host)
    print(f"iter_batches peak RSS, {os.path.basename(profile_dir)} profile (default batch: 32 MiB of host data)")
    with tempfile.TemporaryDirectory(dir=os.path.dirname(profile_dir)) as scratch:
        for size in sizes:
            # The file repeated (whole records) up to the size wanted.
            path = os.path.join(scratch, f"host-{size}.bin")
            want = size * 1_000_000 // base * base if size * 1_000_000 >= base else base
            with open(path, "wb") as out, open(host, "rb") as src:
                data = src.read()
                while out.tell() < want:
                    out.write(data)
            started = time.perf_counter()
            records, megabytes = rss_child(pythonpath, path, fmt)
            seconds = time.perf_counter() - started
            print(f"  {os.path.getsize(path) / 1e6:6.0f} MB  {records:9d} records  peak RSS {megabytes:6.0f} MB"
                  f"  ({seconds:.1f} s)")
            os.remove(path)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="the rekmo command of a release build")
    parser.add_argument("--data", required=True, help="folder with one gen_data.py folder per profile")
    parser.add_argument("--profiles", nargs="*", default=["mixed", "numeric"])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rss", help="a profile for the iter_batches memory figures")
    parser.add_argument("--sizes", nargs="*", type=int, default=[256, 2048], help="file sizes in MB for --rss")
    args = parser.parse_args()
    pythonpath = os.path.join(os.path.dirname(os.path.abspath(args.bin)), "python")
    sys.path.insert(0, pythonpath)
    import rekmo
    if args.rss:
        rss_figures(pythonpath, os.path.join(args.data, args.rss), args.sizes)
    for profile in args.profiles:
        read_host_figures(rekmo, os.path.join(args.data, profile), args.runs, args.bin)
    print(f"(this process, holding one frame at a time: peak RSS "
          f"{resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.0f} MB)")


if __name__ == "__main__":
    main()
