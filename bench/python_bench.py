#!/usr/bin/env python3
"""rekmo.read_host against the rekmo command on the same host file, the peak
memory of read_host against the frame it gives, and the peak memory of
rekmo.iter_batches as the file grows. Not a test: it prints figures.

    bench/python_bench.py --bin build/release/rekmo --data DIR [--profiles mixed numeric] [--runs 3]
    bench/python_bench.py --bin build/release/rekmo --data DIR --rss mixed --sizes 256 2048
    bench/python_bench.py --bin build/release/rekmo --data DIR --dask [--blocksize 32MiB]

DIR holds one folder per profile, as ../shared/bench/gen_data.py writes them
(`gen_data.py --profile mixed --records 640000 --out DIR/mixed`: host.bin and
format.txt). The package is imported from the build folder next to --bin
(<build>/python). For read_host it reports the whole call (best of --runs,
with the CPU time of the process beside it: on a machine shared with other
work the CPU time moves less than the wall time), the time in the module's
decode() calls (the records decoded on every core with the GIL released,
while the calling thread makes the Python objects of the chunks done) and
the rest (reading the file, building the DataFrame); then, in a fresh
interpreter, the peak RSS of one read_host call against the frame's own size
(its arrays and each distinct object once) and the RSS before the call.
"""

import argparse
import os
import resource
import subprocess
import sys
import tempfile
import time


def cpu_seconds():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime


def best(runs, work):
    """The best wall time of `runs` calls, the CPU time of that call, and its result."""
    times = []
    result = None
    for _ in range(runs):
        result = None  # the last frame goes before the next is made
        started, cpu = time.perf_counter(), cpu_seconds()
        result = work()
        times.append((time.perf_counter() - started, cpu_seconds() - cpu))
    wall, cpu = min(times)
    return wall, cpu, result


def read_host_figures(rekmo, profile_dir, runs, binary):
    host, fmt = os.path.join(profile_dir, "host.bin"), os.path.join(profile_dir, "format.txt")
    megabytes = os.path.getsize(host) / 1e6
    out = os.path.join("/dev/shm" if os.path.isdir("/dev/shm") else tempfile.gettempdir(), "rekmo-bench.csv")
    command = []

    def convert():
        started = time.perf_counter()
        child = resource.getrusage(resource.RUSAGE_CHILDREN)
        subprocess.run([binary, host, out, fmt], check=True)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        cpu = after.ru_utime + after.ru_stime - child.ru_utime - child.ru_stime
        command.append((time.perf_counter() - started, cpu))

    for _ in range(runs):
        convert()
    os.remove(out)
    command, command_cpu = min(command)
    layout = rekmo.Layout.load(fmt)
    figures = []
    for text in ("str", "bytes"):
        readers = []

        def read():
            reader = rekmo._Reader(layout, None, text, None)
            readers.append(reader)
            return rekmo._read(reader, rekmo._Source(host, layout), layout, None)

        total, cpu, frame = best(runs, read)
        decode = min(reader.decoder.core_seconds for reader in readers)
        figures.append((text, total, cpu, decode, len(frame)))
        del frame
    print(f"{os.path.basename(profile_dir)}: {megabytes:.0f} MB, {figures[0][4]} records, {os.cpu_count()} cores, "
          f"load average {os.getloadavg()[0]:.1f}")
    print(f"  rekmo command (CSV to tmpfs)      {command:7.2f} s  {megabytes / command:7.0f} MB/s"
          f"  (CPU {command_cpu:.2f} s)")
    for text, total, cpu, decode, _ in figures:
        print(f"  read_host text={text:<6} whole call   {total:7.2f} s  {megabytes / total:7.0f} MB/s"
              f"  (CPU {cpu:.2f} s)  {total / command:4.1f}x the command")
        print(f"      decode() in C++               {decode:7.2f} s  {megabytes / decode:7.0f} MB/s")
        print(f"      reading and frame building    {total - decode:7.2f} s")
    before, peak, size = read_host_rss(os.path.dirname(os.path.dirname(rekmo.__file__)), host, fmt)
    print(f"  read_host peak RSS (fresh interpreter) {peak:6.0f} MB: {before:.0f} MB before the call, "
          f"the frame {size:.0f} MB, the rest {peak - before - size:.0f} MB")


def read_host_rss(pythonpath, host, fmt):
    """One read_host call in a fresh interpreter: RSS before it and at its peak,
    and the frame's own size (its arrays, and each distinct object once), in MB."""
    code = ("import re, sys, rekmo, pandas\n"
            "def rss(field):\n"
            "    status = open('/proc/self/status').read()\n"
            "    return int(re.search(field + r':\\s*(\\d+) kB', status).group(1)) / 1024\n"
            "layout = rekmo.Layout.load(sys.argv[2])\n"
            "before = rss('VmRSS')\n"
            "frame = rekmo.read_host(sys.argv[1], layout)\n"
            "peak = rss('VmHWM')\n"
            "size, seen = 0, set()\n"
            "for name in frame.columns:\n"
            "    column = frame[name]\n"
            "    if column.dtype == object:\n"
            "        values = column.to_numpy()\n"
            "        size += values.nbytes\n"
            "        for value in values:\n"
            "            if id(value) not in seen:\n"
            "                seen.add(id(value))\n"
            "                size += sys.getsizeof(value)\n"
            "    else:\n"
            "        size += column.array.nbytes\n"
            "print(before, peak, size / 2**20)\n")
    done = subprocess.run([sys.executable, "-c", code, host, fmt], check=True, capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=pythonpath))
    return tuple(float(x) for x in done.stdout.split())


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


def dask_figures(rekmo, profile_dir, runs, blocksize):
    """rekmo.dask.read_host on a LocalCluster of one worker process, then of two
    (one thread each): each partition built on its worker and counted there, so
    that no frame travels back to the client."""
    import rekmo.dask
    from distributed import Client, LocalCluster
    host, fmt = os.path.join(profile_dir, "host.bin"), os.path.join(profile_dir, "format.txt")
    layout = rekmo.Layout.load(fmt)
    print(f"rekmo.dask, {os.path.basename(profile_dir)} profile, blocksize {blocksize}, "
          f"load average {os.getloadavg()[0]:.1f}")
    seconds = {}
    for workers in (1, 2):
        with LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster, \
                Client(cluster):
            parts = []

            def count():
                # A new graph each time: the scheduler may still hold the last one's results.
                frame = rekmo.dask.read_host(host, layout, blocksize=blocksize)
                parts.append(frame.npartitions)
                return int(frame.map_partitions(len).compute().sum())

            count()  # the workers import pandas and rekmo once
            seconds[workers], _, records = best(runs, count)
        print(f"  {workers} worker{'s' if workers > 1 else ' '}  {parts[0]} partitions  {records} records  "
              f"{seconds[workers]:6.2f} s")
    print(f"  scaling from one worker to two: {seconds[1] / seconds[2]:.2f}x")


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--bin", required=True, help="the rekmo command of a release build")
    parser.add_argument("--data", required=True, help="folder with one gen_data.py folder per profile")
    parser.add_argument("--profiles", nargs="*", default=["mixed", "numeric"])
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--rss", help="a profile for the iter_batches memory figures")
    parser.add_argument("--sizes", nargs="*", type=int, default=[256, 2048], help="file sizes in MB for --rss")
    parser.add_argument("--dask", action="store_true", help="also rekmo.dask on one worker and on two")
    parser.add_argument("--blocksize", default="32MiB", help="partition size for --dask")
    args = parser.parse_args()
    pythonpath = os.path.join(os.path.dirname(os.path.abspath(args.bin)), "python")
    sys.path.insert(0, pythonpath)
    import rekmo
    if args.rss:
        rss_figures(pythonpath, os.path.join(args.data, args.rss), args.sizes)
    for profile in args.profiles:
        read_host_figures(rekmo, os.path.join(args.data, profile), args.runs, args.bin)
    if args.dask:
        for profile in args.profiles:
            dask_figures(rekmo, os.path.join(args.data, profile), args.runs, args.blocksize)
    print(f"(this process, holding one frame at a time: peak RSS "
          f"{resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024:.0f} MB)")


if __name__ == "__main__":
    main()
