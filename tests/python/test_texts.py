"""Text columns made once per value: the texts of read_host and iter_batches
against the command's CSV (decoded by Python's own cp932 codec) on columns
that keep the cache of equal texts and columns that give it up, over more
texts than the cache samples, and the objects they share: a column of a few
thousand values holds about that many objects, whatever the file's size."""

import csv
import io
import random

import pandas as pd
import pytest

import rekmo
from conftest import run_rekmo

DIGITS = bytes(range(0xF0, 0xFA))
LETTERS = bytes(range(0xC1, 0xCA)) + bytes(range(0xD1, 0xDA)) + DIGITS
KANA = bytes(range(0x81, 0x8A)) + bytes(range(0x8A, 0x90))  # EBCDIC katakana: half-width in code page 932
KANJI = [bytes([0x45 + k % 3, 0x41 + k]) for k in range(40)] + [b"\x40\x40"]
RECORDS = 100_000  # more texts per column than the cache samples, many times over

# (name, type, length, how a record's value is made from (rng, record number)).
COLUMNS = [
    ("UNIQUE", "E", 8, lambda rng, pools, r: b"%08d" % r),  # repeats never: no cache
    ("POOL", "E", 12, lambda rng, pools, r: rng.choice(pools["POOL"])),  # 9,000 values
    ("KANA", "E", 10, lambda rng, pools, r: rng.choice(pools["KANA"])),
    ("KANJI", "K", 10, lambda rng, pools, r: rng.choice(pools["KANJI"])),
    # Half unique, half of a few values: the cache stays, and its store of texts
    # fills up and is rebuilt while the few values stay found.
    ("LONG", "E", 128, lambda rng, pools, r: (b"%0128d" % r) if r % 2 else rng.choice(pools["LONG"])),
    ("EDGE", "E", 256, lambda rng, pools, r: rng.choice(pools["EDGE"])),  # the longest cached
    ("HUGE", "E", 300, lambda rng, pools, r: rng.choice(pools["HUGE"])),  # too long to be cached
    ("BLANK", "E", 3, lambda rng, pools, r: rng.choice([b"\x40" * 3, b"\xc1\x40\x40", b"\x40\x40\xc1"])),
]


def ebcdic(data):
    """Host bytes for ASCII digits and spaces (the rest is already host bytes)."""
    return data.translate(bytes.maketrans(b"0123456789 ", DIGITS + b"\x40"))


def make_case(seed):
    rng = random.Random(seed)
    pools = {
        # Letters and katakana: most texts mix ASCII and other characters.
        "POOL": [bytes(rng.choice(LETTERS + KANA) for _ in range(12)) for _ in range(9000)],
        "KANA": [bytes(rng.choice(KANA) for _ in range(rng.randint(1, 10))).ljust(10, b"\x40") for _ in range(50)],
        "KANJI": [b"".join(rng.choice(KANJI) for _ in range(5)) for _ in range(30)],
        "LONG": [bytes(rng.choice(LETTERS) for _ in range(128)) for _ in range(100)],
        "EDGE": [bytes(rng.choice(LETTERS) for _ in range(256)) for _ in range(40)],
        "HUGE": [bytes(rng.choice(LETTERS) for _ in range(300)) for _ in range(20)],
    }
    lines, position = ["RECLEN=736", "CSV=TRIM"], 1
    for name, kind, length, _ in COLUMNS:
        lines.append(f"{name},{position},{length},{kind},1")
        position += length
    records = []
    for r in range(RECORDS):
        record = b"".join(ebcdic(make(rng, pools, r)) for _, _, _, make in COLUMNS)
        records.append(record.ljust(736, b"\x40"))
    return ("\n".join(lines) + "\n").encode(), b"".join(records)


@pytest.fixture(scope="module")
def case(tmp_path_factory):
    """The layout, the host file, and the command's fields per column (bytes)."""
    folder = tmp_path_factory.mktemp("texts")
    fmt, data = make_case(28)
    (folder / "host.bin").write_bytes(data)
    (folder / "quoted.fmt").write_bytes(fmt + b"CSV=QUOTE\n")
    assert run_rekmo(folder / "host.bin", folder / "out.csv", folder / "quoted.fmt")[0] == 0
    text = (folder / "out.csv").read_bytes().decode("latin-1")  # byte for byte
    rows = list(csv.reader(io.StringIO(text, newline="")))
    columns = [[row[c].encode("latin-1") for row in rows] for c in range(len(COLUMNS))]
    return rekmo.Layout.parse(fmt), folder / "host.bin", columns


def test_texts_against_the_command(case):
    layout, host, columns = case
    frame = rekmo.read_host(host, layout, threads=2)
    raw = rekmo.read_host(host, layout, text="bytes", threads=2)
    assert len(frame) == RECORDS
    for (name, *_), fields in zip(COLUMNS, columns):
        assert frame[name].tolist() == [field.decode("cp932", "surrogateescape") for field in fields], name
        assert raw[name].tolist() == fields, name
    # Equal texts share one object while the cache keeps them; a column of
    # values that never repeat has one object per text.
    objects = {name: len({id(value) for value in frame[name]}) for name, *_ in COLUMNS}
    values = {name: frame[name].nunique() for name, *_ in COLUMNS}
    assert objects["UNIQUE"] == values["UNIQUE"] == RECORDS
    for name in ("POOL", "KANA", "KANJI", "BLANK", "EDGE"):
        assert objects[name] <= 2 * values[name], (name, objects[name], values[name])
    assert objects["LONG"] <= RECORDS // 2 + 20 * 100, objects["LONG"]
    assert objects["HUGE"] > 1000  # too long to be looked up
    assert {type(value) for value in frame["KANA"]} == {str}
    assert any(0xFF61 <= ord(ch) <= 0xFF9F for ch in frame["KANA"].iloc[0] + frame["KANA"].iloc[1])
    assert "" in set(frame["BLANK"])


@pytest.mark.parametrize("threads", [1, 3])
def test_texts_in_blocks_and_batches(case, threads, monkeypatch):
    layout, host, _ = case
    whole = rekmo.read_host(host, layout, threads=2)
    monkeypatch.setattr(rekmo, "_BLOCK_BYTES", 7777 * layout.record_length)
    pd.testing.assert_frame_equal(rekmo.read_host(host, layout, threads=threads), whole)
    batches = list(rekmo.iter_batches(host, layout, batch_records=33_333, threads=threads))
    pd.testing.assert_frame_equal(pd.concat(batches), whole)
    part = rekmo.read_host(host, layout, records=slice(40_001, 40_500), threads=threads)
    pd.testing.assert_frame_equal(part, whole.iloc[40_001:40_500])


def arena_allocator():
    """The interpreter's arena allocator: (ctx, alloc, free) addresses."""
    import ctypes

    class Allocator(ctypes.Structure):
        _fields_ = [("ctx", ctypes.c_void_p), ("alloc", ctypes.c_void_p), ("free", ctypes.c_void_p)]

    allocator = Allocator()
    ctypes.pythonapi.PyObject_GetArenaAllocator(ctypes.byref(allocator))
    return allocator.ctx, allocator.alloc, allocator.free


def in_the_module(address):
    """Whether an address lies in the extension module's own mapped code."""
    with open("/proc/self/maps") as maps:
        for line in maps:
            if "_rekmo" in line:
                low, high = (int(part, 16) for part in line.split()[0].split("-"))
                if low <= address < high:
                    return True
    return False


def test_arena_allocator_is_the_interpreters_again(case):
    # The objects are made with the interpreter's arenas mapped ahead: the
    # allocator it had is back after every call (the module's own functions
    # are not left in it, also by the calls of earlier tests).
    layout, host, columns = case
    before = arena_allocator()
    assert not in_the_module(before[1]) and not in_the_module(before[2])
    frame = rekmo.read_host(host, layout, threads=2)
    assert arena_allocator() == before
    assert frame["UNIQUE"].tolist()[:3] == [field.decode("cp932") for field in columns[0][:3]]
    for batch in rekmo.iter_batches(host, layout, batch_records=40_000, threads=2):
        assert arena_allocator() == before
    with pytest.raises(rekmo.Error):
        rekmo.read_host(b"\x40" * (layout.record_length + 1), layout)
    assert arena_allocator() == before


def large_page_mappings():
    """The address ranges advised for large pages (VmFlags "hg" in smaps)."""
    ranges, low, high = [], 0, 0
    with open("/proc/self/smaps") as smaps:
        for line in smaps:
            head = line.split()[0]
            if "-" in head and not head.endswith(":"):
                low, high = (int(part, 16) for part in head.split("-"))
            elif head == "VmFlags:" and "hg" in line.split()[1:]:
                ranges.append((low, high))
    return ranges


def large_pages_offered():
    try:
        with open("/sys/kernel/mm/transparent_hugepage/enabled") as enabled:
            return "[never]" not in enabled.read()
    except OSError:
        return False


@pytest.mark.skipif(not large_pages_offered(), reason="the system offers no large pages")
def test_new_texts_lie_in_large_pages(case):
    # Where the system offers large pages, the arenas of a column of new
    # texts are cut from them: most values lie in memory advised for them
    # (the rest in room that earlier objects of the process left free).
    layout, host, columns = case
    frame = rekmo.read_host(host, layout, threads=2)
    ranges = large_page_mappings()
    values = frame["UNIQUE"].tolist()[::97] + frame["LONG"].tolist()[1::194]
    inside = [any(low <= id(value) < high for low, high in ranges) for value in values]
    assert sum(inside) > 0.5 * len(values), (sum(inside), len(values))
    assert values[:3] == [field.decode("cp932") for field in columns[0][:3 * 97:97]]


@pytest.mark.parametrize("threads", [1, 3])
def test_a_file_read_on_the_threads_is_the_buffer_read_in_blocks(case, threads, monkeypatch):
    # A path is read by the decoding threads, a buffer block by block: the
    # same frames, whole and from a record inside a chunk on.
    layout, host, _ = case
    data = host.read_bytes()
    monkeypatch.setattr(rekmo, "_BLOCK_BYTES", 9_999 * layout.record_length)
    for records in (None, slice(12_345, 98_765)):
        from_file = rekmo.read_host(host, layout, records=records, threads=threads)
        pd.testing.assert_frame_equal(from_file, rekmo.read_host(data, layout, records=records, threads=threads))
        pd.testing.assert_frame_equal(from_file, rekmo.read_host(memoryview(data), layout, records=records, threads=2))
