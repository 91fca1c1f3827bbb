"""What a call may cost: memory bounded by the data, not by the arguments."""

import json
import subprocess
import sys

from conftest import source

# For each call, in a fresh interpreter, how far resident memory peaks above
# where it stood (/proc/self/clear_refs restarts the peak from the current size).
PEAKS = r"""
import json, os, sys, threading
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
many = 2_000_000  # records a batch may hold: 440 MB, where the file holds 4
print(json.dumps({
    "read_host(file)": growth(lambda: [rekmo.read_host(host, layout)]),
    "read_host(fifo)": growth(lambda: [rekmo.read_host(fifo("a"), layout)]),
    "iter_batches(file)": growth(lambda: rekmo.iter_batches(host, layout, many)),
    "iter_batches(fifo)": growth(lambda: rekmo.iter_batches(fifo("b"), layout, many)),
}))
"""


def test_buffers_are_no_larger_than_the_data(tmp_path):
    done = subprocess.run([sys.executable, "-c", PEAKS, str(tmp_path), source("examples/customers.fmt"),
                           source("examples/customers.bin")], capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    peaks = json.loads(done.stdout)
    assert len(peaks) == 4
    # A buffer sized from a batch or a block rather than from the 880 bytes read
    # would take 64 MiB to 440 MB.
    assert all(peak < 16 << 20 for peak in peaks.values()), peaks
