"""What a call may cost: memory bounded by the data, not by the arguments, and
a conversion that stops when Ctrl-C is pressed."""

import json
import os
import signal
import subprocess
import sys
import threading
import time

import pytest

import rekmo
from conftest import source

# Each call in a fresh interpreter whose address space may grow by 256 MiB at
# most (a buffer of the batch asked for would take 440 MB), and how far its
# resident memory peaks above where it stood (/proc/self/clear_refs restarts
# the peak from the current size), which catches buffers filled beforehand.
PEAKS = r"""
import json, os, resource, sys, threading
import rekmo

folder, fmt, host = sys.argv[1:]
layout = rekmo.Layout.load(fmt)
data = open(host, "rb").read()


def status(field):
    with open("/proc/self/status") as f:
        return next(int(line.split()[1]) * 1024 for line in f if line.startswith(field + ":"))


def growth(read):
    with open("/proc/self/clear_refs", "w") as f:
        f.write("5")
    before = status("VmRSS")
    assert sum(len(frame) for frame in read()) == len(data) // layout.record_length
    return status("VmHWM") - before


def fifo(name):
    path = os.path.join(folder, name)
    os.mkfifo(path)
    threading.Thread(target=lambda: open(path, "wb").write(data), daemon=True).start()
    return path


list(rekmo.iter_batches(data, layout, 2))  # what a first call imports and builds
resource.setrlimit(resource.RLIMIT_AS, (status("VmSize") + (256 << 20), resource.RLIM_INFINITY))
many = 2_000_000  # records a batch may hold: 440 MB, where the file holds 4
print(json.dumps({
    "read_host(file)": growth(lambda: [rekmo.read_host(host, layout)]),
    "read_host(fifo)": growth(lambda: [rekmo.read_host(fifo("a"), layout)]),
    "iter_batches(file)": growth(lambda: rekmo.iter_batches(host, layout, many)),
    "iter_batches(fifo)": growth(lambda: rekmo.iter_batches(fifo("b"), layout, many)),
}))
"""


def test_buffers_are_no_larger_than_the_data(tmp_path):
    # One malloc arena: the FIFOs' writer threads take no 64 MiB of address space each.
    done = subprocess.run([sys.executable, "-c", PEAKS, str(tmp_path), source("examples/customers.fmt"),
                           source("examples/customers.bin")], capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, MALLOC_ARENA_MAX="1"))
    assert done.returncode == 0, done.stderr  # a MemoryError: a buffer sized from the batch
    peaks = json.loads(done.stdout)
    assert len(peaks) == 4
    # A buffer zero-filled to the size of a block or a batch rather than of the
    # 880 bytes read would take 64 MiB to 440 MB.
    assert all(peak < 16 << 20 for peak in peaks.values()), peaks


@pytest.mark.parametrize("threads", [1, None])
def test_ctrl_c_stops_a_conversion_between_blocks(threads, tmp_path):
    """HostFile is a FIFO fed for ten seconds at most; Ctrl-C comes once WinFile
    has started to grow. The conversion must stop early, leave whole lines of the
    first records, and raise KeyboardInterrupt."""
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    data = open(source("tests/data/every_type.bin"), "rb").read()
    lines = open(source("tests/data/every_type.csv"), "rb").read()
    host, win = tmp_path / "host.fifo", tmp_path / "out.csv"
    os.mkfifo(host)
    writes, fed = 2000, []

    def feed():
        interrupted = False
        try:
            with open(host, "wb") as f:
                for _ in range(writes):
                    f.write(data)
                    f.flush()
                    fed.append(len(data))
                    if not interrupted and win.exists() and win.stat().st_size > 0:
                        os.kill(os.getpid(), signal.SIGINT)
                        interrupted = True
                    if interrupted:
                        time.sleep(0.005)
        except BrokenPipeError:  # the conversion stopped reading
            pass

    handler = signal.signal(signal.SIGINT, signal.default_int_handler)
    feeder = threading.Thread(target=feed)
    try:
        feeder.start()
        with pytest.raises(KeyboardInterrupt):
            rekmo.convert(host, win, layout, threads=threads)
    finally:
        feeder.join()
        signal.signal(signal.SIGINT, handler)
    written = win.read_bytes()
    assert written.endswith(b"\n") and written == (lines * len(fed))[:len(written)], "whole lines of the first records"
    converted = written.count(b"\n")
    assert 0 < converted < writes * len(data) // layout.record_length and len(fed) < writes, (converted, len(fed))
