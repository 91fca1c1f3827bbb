"""What the tests of the Python package share: the rekmo command (REKMO_BIN) as
the reference, the source tree's data (REKMO_SOURCE_DIR), and random layouts."""

import os
import random
import subprocess

import pytest

SOURCE = os.environ.get("REKMO_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
REKMO = os.environ.get("REKMO_BIN", "rekmo")


def source(name):
    return os.path.join(SOURCE, name)


def run_rekmo(host, win, fmt):
    """The command's exit status and message (UTF-8, without the line feed)."""
    done = subprocess.run([REKMO, str(host), str(win), str(fmt)], capture_output=True,
                          env=dict(os.environ, LC_ALL="C.UTF-8"))
    return done.returncode, done.stderr.decode().rstrip("\n")


def format_text(layout, output=None):
    """The layout as a format file, every item written or only item `output`."""
    lines = [f"RECLEN={layout.record_length}"] + [f"HOSTCODE={layout.host_code}"] * bool(layout.host_code)
    for i, item in enumerate(layout.items):
        written = item.output if output is None else i == output
        lines.append(f"I{i},{item.position},{item.length},{item.type},{int(written)}")
    return ("\n".join(lines) + "\n").encode()


HOST_CODES = [None, None, "JEF", "KEIS78", "KEIS83"]  # without the line, or each host code page


def random_case(seed, records=40):
    """A layout of random items (every type, some past the record, some of
    negative length, some not written) and records of noise mixed with bytes
    the decoders treat specially."""
    rng = random.Random(seed)
    record_length = rng.randint(1, 120)
    lines = [f"RECLEN={record_length}"] + [f"HOSTCODE={code}" for code in [rng.choice(HOST_CODES)] if code]
    for i in range(rng.randint(1, 12)):
        kind = rng.choice(["E", "P", "Z", "J", "F", "FN", "K", "KN"])
        length = rng.choice([rng.randint(1, 12), rng.randint(1, 40), -rng.randint(1, 3)])
        output = rng.random() > 0.15
        lines.append(f"N{i % 5},{rng.randint(1, record_length + 4)},{length},{kind},{int(output)}")
    special = [0x00, 0x0A, 0x0D, 0x1B, 0x24, 0x28, 0x29, 0x42, 0x41, 0x4A, 0x6B, 0x40, 0xC1, 0xF1, 0x1C, 0xD5]
    data = bytes(rng.choice(special) if rng.random() < 0.5 else rng.randrange(256)
                 for _ in range(records * record_length))
    return ("\n".join(lines) + "\n").encode(), data


@pytest.fixture
def write(tmp_path):
    def write_file(name, data):
        path = tmp_path / name
        path.write_bytes(data)
        return path
    return write_file
