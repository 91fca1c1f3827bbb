"""DataFrames against the rekmo command's CSV, column by column: every item
type, on the bundled example, the file with every item type and random layouts."""

import os
import threading

import numpy as np
import pandas as pd
import pytest

import rekmo
from conftest import format_text, random_case, run_rekmo, source


def cases():
    yield "customers", open(source("examples/customers.fmt"), "rb").read(), open(source("examples/customers.bin"), "rb").read()
    yield "every_type", open(source("tests/data/every_type.fmt"), "rb").read(), open(source("tests/data/every_type.bin"), "rb").read()
    for seed in range(12):
        yield f"random{seed}", *random_case(seed)
    yield "random-threads", *random_case(99, records=5000)  # decoded in parts on several threads


@pytest.mark.parametrize("name,fmt,data", list(cases()), ids=lambda x: x if isinstance(x, str) else "")
def test_columns_equal_the_commands_csv(name, fmt, data, write, tmp_path):
    layout = rekmo.Layout.parse(fmt)
    host = write("host.bin", data)
    as_str = rekmo.read_host(host, layout, threads=2)
    as_bytes = rekmo.read_host(data, layout, text="bytes", threads=2)
    assert list(as_str.columns) == layout.columns
    assert list(as_str.index) == list(range(len(data) // layout.record_length))
    for item_index, item in enumerate(layout.items):
        if item.column is None:
            continue
        assert run_rekmo(host, tmp_path / "out.csv", write("one.fmt", format_text(layout, item_index)))[0] == 0
        csv = (tmp_path / "out.csv").read_bytes()
        column, raw = as_str[item.column], as_bytes[item.column]
        if item.type in ("P", "Z"):
            digits = max(0, 2 * item.length - 1 if item.type == "P" else item.length)
            assert column.dtype == ("Int64" if digits <= 18 else np.float64)
            parse = int if digits <= 18 else float
            assert [parse(line) for line in csv.split(b"\n")[:-1]] == list(column)
            assert raw.equals(column)
        else:
            assert b"".join(text + b"\n" for text in raw) == csv
            if layout.host_code:
                # Through a host page the texts are the page's own characters:
                # what the command writes with CSV=UTF8.
                utf8 = write("utf8.fmt", format_text(layout, item_index) + b"CSV=UTF8\n")
                assert run_rekmo(host, tmp_path / "utf8.csv", utf8)[0] == 0
                assert "".join(text + "\n" for text in column) == (tmp_path / "utf8.csv").read_bytes().decode("utf-8")
            else:
                assert list(column) == [text.decode("cp932", "surrogateescape") for text in raw]


# Texts in Unicode: CSV=UTF8 gives the command's UTF-8 decoded, a HOSTCODE page
# the page's own characters, with or without UTF8; text="bytes" the command's bytes.
UNICODE_CASES = [
    # format, record, str texts, bytes texts
    ("CSV=UTF8\nRECLEN=4\nA,1,2,E,1\nB,3,2,KN,1\n", b"\x81\xc1\xa4\xa2", ["ｱA", "あ"],
     ["ｱA".encode("utf-8"), "あ".encode("utf-8")]),
    ("HOSTCODE=JEF\nRECLEN=6\nA,1,2,E,1\nB,3,4,FN,1\n", b"\x4a\xc1\x41\xa4\xb0\xa1", ["£A", "\U0002b743亜"],
     [b"\x81\x92A", b"\x81\xac\x88\x9f"]),
    ("HOSTCODE=JEF\nCSV=UTF8,TRIM\nRECLEN=6\nA,1,2,E,1\nB,3,4,FN,1\n", b"\xc1\x40\x41\xa4\x40\x40", ["A", "\U0002b743"],
     [b"A", "\U0002b743".encode("utf-8")]),
    ("HOSTCODE=KEIS78\nRECLEN=4\nK,1,4,KN,1\n", b"\xc9\xb0\x40\x40", ["檜\u3000"], [b"\x9e\x77\x81\x40"]),
]


@pytest.mark.parametrize("fmt,record,texts,raw", UNICODE_CASES)
def test_texts_in_unicode_with_utf8_or_a_host_page(fmt, record, texts, raw, write, tmp_path):
    layout = rekmo.Layout.parse(fmt)
    for threads in (1, 2):
        frame = rekmo.read_host(record * 300, layout, threads=threads)
        assert [list(frame[name]) for name in layout.columns] == [[text] * 300 for text in texts]
    as_bytes = rekmo.read_host(record, layout, text="bytes")
    assert [as_bytes[name][0] for name in layout.columns] == raw
    assert run_rekmo(write("host.bin", record), tmp_path / "out.csv", write("f.fmt", fmt.encode()))[0] == 0
    assert (tmp_path / "out.csv").read_bytes() == b",".join(raw) + b"\n"


def test_texts_decode_as_the_cp932_codec_on_every_byte_pair():
    # A J item of two bytes holds no escape sequence: its text is its bytes.
    pairs = bytes(b for lead in range(1, 256) for trail in range(1, 256) for b in (lead, trail))
    layout = rekmo.Layout.parse("J,1,2,J,1\n")
    raw = rekmo.read_host(pairs, layout, text="bytes")["J"]
    assert b"".join(raw) == pairs
    assert list(rekmo.read_host(pairs, layout)["J"]) == [text.decode("cp932", "surrogateescape") for text in raw]


def test_ranges_batches_buffers_and_columns_read_the_same_records():
    path = source("tests/data/every_type.bin")
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    whole = rekmo.read_host(path, layout)
    data = open(path, "rb").read()
    for records in (slice(0, 0), slice(5, 17), slice(-3, None), slice(None, -100), slice(119, 120)):
        expected = whole.iloc[records]
        pd.testing.assert_frame_equal(rekmo.read_host(path, layout, records=records), expected)
        pd.testing.assert_frame_equal(rekmo.read_host(memoryview(data), layout, records=records), expected)
    batches = list(rekmo.iter_batches(path, layout, batch_records=7, records=slice(3, None)))
    assert [len(batch) for batch in batches] == [7] * 16 + [5]
    pd.testing.assert_frame_equal(pd.concat(batches), whole.iloc[3:])
    picked = ["ZLONG", "E", "PAST"]
    pd.testing.assert_frame_equal(rekmo.read_host(bytearray(data), layout, columns=picked), whole[picked])
    assert rekmo.read_host(path, layout, columns=[]).shape == (120, 0)


def test_streams_read_the_same_records(tmp_path):
    """A FIFO's blocks are read into a buffer that grows as the bytes come: 3 MB
    of records, whole, in batches, and after some skipped."""
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    data = open(source("tests/data/every_type.bin"), "rb").read() * 100
    whole = rekmo.read_host(data, layout)

    def batches(frames):
        frames = list(frames)
        assert [len(frame) for frame in frames] == [5000, 5000, 2000]  # as asked, whatever a read gives
        return frames

    for number, (read, first) in enumerate([
            (lambda fifo: rekmo.read_host(fifo, layout), 0),
            (lambda fifo: pd.concat(batches(rekmo.iter_batches(fifo, layout, batch_records=5000))), 0),
            (lambda fifo: rekmo.read_host(fifo, layout, records=slice(4099, None)), 4099)]):
        fifo = tmp_path / f"fifo{number}"
        os.mkfifo(fifo)
        threading.Thread(target=fifo.write_bytes, args=(data,), daemon=True).start()
        pd.testing.assert_frame_equal(read(fifo), whole.iloc[first:])


def test_layout_reads_names_positions_and_makes_columns_unique():
    layout = rekmo.Layout.load(source("examples/customers.fmt"))
    assert layout.record_length == 220
    assert layout.items[2] == rekmo.Item("漢字氏名", 25, 20, "KN", True, "漢字氏名")
    assert layout.items[-1].column is None and not layout.items[-1].output
    twice = rekmo.Layout.parse("A,1,1,E,1\nA,2,1,E,1\nA.1,3,1,E,1\nB,4,1,E,0\nA,5,1,E,1\n")
    assert twice.columns == ["A", "A.1", "A.1.1", "A.2"]
    import pickle
    again = pickle.loads(pickle.dumps(layout))
    assert again.items == layout.items and again.path == layout.path
