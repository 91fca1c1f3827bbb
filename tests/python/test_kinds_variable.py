"""Record kinds (KIND=) and variable-length records (RECFM=V, VB) in Python:
generated files of every shape whose values the test knows, read_host and
iter_batches against those values and against the command's CSV, Dask
partitions against read_host, and every fault of the command as RecordError
with the command's record number, offset and message."""

import os
import random
import threading

import dask
import numpy as np
import pandas as pd
import pytest

import rekmo
import rekmo.dask
from conftest import run_rekmo

CODE_BYTES = 4  # the kinds' codes stand in the first bytes; the items follow


def rdw(data):
    return (len(data) + 4).to_bytes(2, "big") + b"\0\0" + data


def bdw(records, extended=False):
    length = sum(map(len, records)) + 4
    return ((length | 0x80000000).to_bytes(4, "big") if extended else length.to_bytes(2, "big") + b"\0\0") + \
        b"".join(records)


def item_bytes(kind, length, value):
    if kind == "E":
        return value.ljust(length).encode("cp037")
    if kind == "Z":
        digits = str(abs(value)).zfill(length).encode("cp037")
        return digits[:-1] + bytes([(0xD0 if value < 0 else 0xC0) | (digits[-1] & 0x0F)])
    digits = str(abs(value)).zfill(2 * length - 1)  # P
    return bytes.fromhex(digits + ("D" if value < 0 else "C"))


def random_value(rng, kind, length):
    if kind == "E":
        return "".join(rng.choice("ABCXYZ0189 ") for _ in range(rng.randint(0, length))).rstrip()
    digits = length if kind == "Z" else 2 * length - 1
    return rng.randint(-(10 ** digits - 1), 10 ** digits - 1)


def generate(seed, recfm, records=60):
    """A format of kinds (letters, X'..', a value repeated at another place) with or
    without a default layout, and a host file of `records` records with the values
    written: (format text, host bytes, [(kind key, {column: value})] per record, the
    kinds' keys in file order)."""
    rng = random.Random(seed)
    # Seed 3 has no KIND= lines: one layout, as F files had.
    default = rng.random() < 0.6 or seed % 3 == 0
    tests = [(1, 1, "A"), (1, 1, "X'01'"), (2, 2, "B7"), (3, 1, "A")][:rng.randint(2, 4) * (seed != 3)]
    keys = ["A", "X'01'", "B7", "A.1"]
    record_length = 40
    lines = [f"RECLEN={record_length + (4 if recfm != 'F' else 0)}", f"RECFM={recfm}"]
    layouts = {}  # key -> [(name, position, length, type, output)]
    for key in ([None] if default else []) + keys[:len(tests)]:
        at, items = CODE_BYTES + 1, []
        for i in range(rng.randint(0 if key else 1, 4)):
            kind = rng.choice("EZP")
            length = rng.randint(1, 8 if kind == "E" else 5)
            items.append((f"{kind}{i}", at, length, kind, int(rng.random() > 0.15)))
            at += length + rng.randint(0, 2)
        layouts[key] = items
    for key, items in layouts.items():
        if key is not None:
            start, length, value = tests[keys.index(key)]
            lines.append(f"KIND={start},{length},{value}")
        lines += [",".join(map(str, item)) for item in items]
    data, expected = bytearray(), []
    blocks, block = [], []
    for number in range(records):
        key = rng.choice(list(layouts))
        record = bytearray(b"\x40" * record_length)
        if key is not None:
            start, length, value = tests[keys.index(key)]
            code = bytes.fromhex(value[2:-1]) if value.startswith("X'") else value.ljust(length).encode("cp037")
            record[start - 1:start - 1 + length] = code
        values = {}
        for name, position, length, kind, output in layouts[key]:
            value = random_value(rng, kind, length)
            record[position - 1:position - 1 + length] = item_bytes(kind, length, value)
            if kind == "E":
                value = value.ljust(length)  # written as it stands, without CSV=TRIM
            values[name] = value if output else None
        if recfm != "F":
            # Cut anywhere: through an item, before all, empty (records of no kind only).
            least = 0 if key is None else CODE_BYTES
            size = rng.choice([record_length, rng.randint(least, record_length), least])
            record = record[:size]
            for name, position, length, kind, output in layouts[key]:
                if position - 1 + length > size and output:
                    values[name] = "" if kind == "E" else pd.NA
        expected.append((key, {name: value for name, value in values.items() if value is not None}))
        if recfm == "F":
            data += record
        elif recfm == "V":
            data += rdw(bytes(record))
        else:
            block.append(rdw(bytes(record)))
            if rng.random() < 0.3 or number == records - 1:
                blocks.append(bdw(block, extended=rng.random() < 0.2))
                block = []
    if recfm == "VB":
        data = b"".join(blocks)
    return "\n".join(lines) + "\n", bytes(data), expected, list(layouts) if tests else []


SHAPES = [(seed, recfm) for recfm in ("F", "V", "VB") for seed in range(4)]


def check_frames(frames, layout, expected, keys, text="str"):
    """The frames hold the values written, each record under its kind's key and number."""
    assert list(layout.kinds) == keys
    if not layout.kinds:
        frames = {None: frames}
    assert list(frames) == (keys or [None])
    for key, frame in frames.items():
        numbers = [n for n, (k, _) in enumerate(expected) if k == key]
        assert list(frame.index) == numbers
        assert list(frame.columns) == (layout.kinds[key] if layout.kinds else layout.columns)
        for n in numbers:
            for name, value in expected[n][1].items():
                got = frame.at[n, name]
                if isinstance(value, str):
                    assert got == (value.encode() if text == "bytes" else value), (key, n, name)
                else:
                    assert (got is pd.NA and value is pd.NA) or got == value, (key, n, name, got, value)


def csv_rows(frames, layout, count):
    """The frames put back in record order as the command's lines (text="bytes")."""
    rows = [None] * count
    for key, frame in (frames.items() if layout.kinds else [(None, frames)]):
        values = frame.itertuples(index=False) if len(frame.columns) else [()] * len(frame)
        for number, row in zip(frame.index, values):
            rows[number] = b",".join(b"" if value is pd.NA else value if isinstance(value, bytes) else
                                     str(value).encode() for value in row) + b"\n"
    return b"".join(rows)


@pytest.mark.parametrize("seed,recfm", SHAPES)
def test_frames_hold_the_values_written_and_the_commands_lines(seed, recfm, write, tmp_path):
    fmt, data, expected, keys = generate(seed, recfm)
    layout = rekmo.Layout.parse(fmt)
    host, fmt_path = write("host.bin", data), write("host.fmt", fmt.encode())
    check_frames(rekmo.read_host(host, layout), layout, expected, keys)
    as_bytes = rekmo.read_host(data, layout, text="bytes", threads=2)
    check_frames(as_bytes, layout, expected, keys, text="bytes")
    assert run_rekmo(host, tmp_path / "command.csv", fmt_path) == (0, "")
    command = (tmp_path / "command.csv").read_bytes()
    assert csv_rows(as_bytes, layout, len(expected)) == command
    rekmo.convert(host, tmp_path / "python.csv", layout)
    assert (tmp_path / "python.csv").read_bytes() == command


@pytest.mark.parametrize("seed,recfm", SHAPES)
def test_batches_and_partitions_equal_read_host(seed, recfm, write):
    fmt, data, expected, keys = generate(seed, recfm)
    layout = rekmo.Layout.parse(fmt)
    host = write("host.bin", data)
    whole = rekmo.read_host(host, layout)
    for batch in (1, 2, 7, 1000):
        batches = list(rekmo.iter_batches(host, layout, batch))
        if not layout.kinds:
            assert [len(frame) for frame in batches] == [min(batch, len(expected) - n)
                                                         for n in range(0, len(expected), batch)]
            pd.testing.assert_frame_equal(pd.concat(batches), whole)
            continue
        # One pair per run of one kind within a batch, in file order.
        runs = [(key, number) for key, frame in batches for number in frame.index]
        assert runs == [(key, number) for number, (key, _) in enumerate(expected)]
        for (key, frame), (next_key, next_frame) in zip(batches, batches[1:]):
            assert key != next_key or frame.index[-1] // batch != next_frame.index[0] // batch
        for key, frame in whole.items():
            parts = [part for k, part in batches if k == key]
            pd.testing.assert_frame_equal(pd.concat(parts) if parts else frame, frame)
    for blocksize in (1, 45, 300, 1 << 20):
        frames = rekmo.dask.read_host([host, host], layout, blocksize=blocksize)
        twice = {key: pd.concat([frame, frame.set_axis(frame.index + len(expected))])
                 for key, frame in (whole.items() if layout.kinds else [(None, whole)])}
        if not layout.kinds:
            assert frames.known_divisions and frames.divisions[-1] == 2 * len(expected) - 1
            pd.testing.assert_frame_equal(frames.compute(scheduler="sync"), twice[None])
            continue
        computed = dask.compute(frames, scheduler="sync")[0]
        for key in whole:
            pd.testing.assert_frame_equal(computed[key], twice[key], check_index_type=False)


def test_record_ranges_columns_threads_and_streams(tmp_path):
    fmt, data, expected, keys = generate(1, "VB", records=5000)  # in parts on several threads
    layout = rekmo.Layout.parse(fmt)
    whole = rekmo.read_host(data, layout, threads=3)
    check_frames(whole, layout, expected, keys)
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    threading.Thread(target=lambda: open(fifo, "wb").write(data), daemon=True).start()
    for key, frame in rekmo.read_host(fifo, layout).items():
        pd.testing.assert_frame_equal(frame, whole[key])
    for first, end in [(0, 0), (3, 17), (4990, 5000), (2500, None)]:
        part = rekmo.read_host(data, layout, records=slice(first, end))
        for key, frame in (part.items() if layout.kinds else [(None, part)]):
            full = whole[key] if layout.kinds else whole
            stop = len(expected) if end is None else end
            pd.testing.assert_frame_equal(frame, full[(full.index >= first) & (full.index < stop)])
    with pytest.raises(ValueError, match="negative"):
        rekmo.read_host(data, layout, records=slice(-3, None))
    with pytest.raises(IndexError, match="holds 5000 records"):
        rekmo.read_host(data, layout, records=slice(10, 5001))
    # A name is asked of every kind: KeyError only when none has it.
    some = [name for name in ("E0", "Z1", "P2", "E3") if any(name in columns for columns in layout.kinds.values())]
    picked = rekmo.read_host(data, layout, columns=some[::-1])
    for key, frame in picked.items():
        assert list(frame.columns) == [name for name in some[::-1] if name in layout.kinds[key]]
        pd.testing.assert_frame_equal(frame, whole[key][list(frame.columns)])
    with pytest.raises(KeyError):
        rekmo.read_host(data, layout, columns=["E0", "NOPE"])


def test_kind_keys_and_items():
    layout = rekmo.Layout.parse("KIND=1,1,A\nN,2,1,E,1\nKIND=1,1,X'f1'\nN,2,1,E,1\nN,3,1,Z,1\n"
                                "KIND=2,1,A\nKIND=1,2,A\nM,3,2,E,0\n")
    assert layout.kinds == {"A": ["N"], "X'F1'": ["N", "N.1"], "A.1": [], "A.2": []}
    assert [(item.kind, item.column) for item in layout.items] == [
        ("A", "N"), ("X'F1'", "N"), ("X'F1'", "N.1"), ("A.2", None)]
    assert rekmo.Layout.parse("A,1,1,E,1\n").kinds == {}
    assert list(rekmo.Layout.parse("A,1,1,E,1\nKIND=1,1,B\n").kinds) == [None, "B"]


def fault_cases():
    """(name, format, host bytes, kind, record number from 1, byte offset)."""
    rec = rdw(b"\xc1\xc2")  # 6 bytes
    v = "RECFM=V\nRECLEN=20\nA,1,2,E,1\n"
    vb = "RECFM=VB\nRECLEN=20\nA,1,2,E,1\n"
    yield "rdw-below-4", v, rec * 2 + b"\0\3\0\0" + rec, "record_length", 3, 12
    yield "rdw-above-limit", v, rec + b"\0\x15\0\0" + b"\xc1" * 17, "record_length", 2, 6
    yield "rdw-bytes-3-4", v, rec * 3 + b"\0\6\1\0\xc1\xc1", "record_length", 4, 18
    yield "record-past-end", v, rec + b"\0\x0a\0\0\xc1", "record_length", 2, 6
    yield "rdw-cut", v, rec + b"\0", "record_length", 2, 6
    yield "bdw-records-overrun", vb, bdw([rec]) + b"\0\x0c\0\0" + rec * 2, "record_length", 3, 10
    yield "bdw-records-short", vb, bdw([rec]) + b"\0\x0c\0\0" + rec + b"\0\0", "record_length", 3, 20
    yield "bdw-below-8", vb, bdw([rec, rec]) + b"\0\7\0\0" + b"\0" * 3, "record_length", 3, 16
    yield "bdw-bytes-3-4", vb, bdw([rec]) + b"\0\x0a\0\1" + rec, "record_length", 2, 10
    yield "block-past-end", vb, bdw([rec]) + b"\0\x10\0\0" + rec, "record_length", 3, 10
    kinds = "KIND=1,1,A\nA,1,2,E,1\nKIND=1,1,B\nB,2,1,E,1\n"
    yield "no-kind-f", "RECLEN=2\n" + kinds, b"\xc1\xc1\xc2\xc2\xc3\xc3\xc1\xc1", "record_kind", 3, None
    yield "no-kind-v", "RECFM=V\n" + kinds, rec + rdw(b"\xc2") + rdw(b"") + rec, "record_kind", 3, None
    yield "no-kind-vb", "RECFM=VB\n" + kinds, bdw([rec]) + bdw([rdw(b"\xc2"), rdw(b"\xc4")]), "record_kind", 3, None


@pytest.mark.parametrize("name,fmt,data,kind,record,offset", list(fault_cases()), ids=lambda x: x
                         if isinstance(x, str) and "\n" not in x else "")
def test_faults_raise_the_commands_record_and_offset(name, fmt, data, kind, record, offset, write, tmp_path):
    layout = rekmo.Layout.parse(fmt)
    host, fmt_path = write("host.bin", data), write("host.fmt", fmt.encode())
    status, message = run_rekmo(host, tmp_path / "command.csv", fmt_path)
    assert status == 1

    def raises(call):
        with pytest.raises(rekmo.RecordError) as raised:
            call()
        error = raised.value
        assert (error.kind, error.record, error.offset) == (kind, record, offset)
        assert error.message == message
        assert f"record {record} " in str(error) and (offset is None or f"offset {offset})" in str(error))
        assert isinstance(error, rekmo.ConversionError)

    raises(lambda: rekmo.convert(host, tmp_path / "python.csv", layout))
    assert (tmp_path / "python.csv").read_bytes() == (tmp_path / "command.csv").read_bytes()
    raises(lambda: rekmo.read_host(host, layout))
    raises(lambda: rekmo.read_host(data, layout))
    # The batches before the fault come first, with the records before it.
    before = []
    raises(lambda: before.extend(rekmo.iter_batches(host, layout, 1)))
    assert len(before) == record - 1
    if kind == "record_length":
        raises(lambda: rekmo.dask.read_host(host, layout, blocksize=1))  # the pass over the descriptors
    else:
        frames = rekmo.dask.read_host(host, layout, blocksize=1)
        raises(lambda: dask.compute(frames, scheduler="sync"))


def test_the_same_records_as_f_and_as_v_give_the_same_frame(write):
    """The same records as F and as V (4 MB of 17-byte records: read in pieces of
    1 MiB, most with a record cut at their end), whole and in batches."""
    rng = np.random.default_rng(5)
    records = rng.integers(0xF0, 0xFA, size=(250_000, 13), dtype=np.uint8)
    f = rekmo.Layout.parse("A,1,6,Z,1\nB,7,7,E,1\n")
    v = rekmo.Layout.parse("RECFM=V\nA,1,6,Z,1\nB,7,7,E,1\n")
    host = write("v.bin", b"".join(rdw(record.tobytes()) for record in records))
    expected = rekmo.read_host(records.tobytes(), f)
    pd.testing.assert_frame_equal(rekmo.read_host(host, v), expected)
    batches = list(rekmo.iter_batches(host, v, 70_000))
    assert [len(batch) for batch in batches] == [70_000, 70_000, 70_000, 40_000]
    pd.testing.assert_frame_equal(pd.concat(batches), expected)
