"""The column builders against the rekmo command: Int64 columns read from the
records without their texts (every sign half-byte, digits that are none, the
largest values, a missing value under EXACT for no number) beside number
columns read from texts, and texts made once per value and shared between
equal ones (codes from pools of 50 and 5,000 values, texts that seldom repeat,
texts trimmed to nothing), over many chunks, blocks and batches; test_texts.py
takes the cache past its sample and its store."""

import random

import pandas as pd
import pytest

import rekmo
from conftest import run_rekmo
from test_options import check_against_command, packed, zoned

EBCDIC_CODE = bytes(range(0xC1, 0xCA)) + bytes(range(0xF0, 0xFA))  # A-I, 0-9
# Short numbers read without texts (P up to 8 bytes, Z up to 15), and longer
# ones (Z16, Z18, P10), which go through the core's texts, in the same records.
NUMBERS = [("P8", "P", 8), ("P1", "P", 1), ("P5", "P", 5), ("Z15", "Z", 15), ("Z1", "Z", 1), ("Z7", "Z", 7),
           ("Z16", "Z", 16), ("Z18", "Z", 18), ("P10", "P", 10)]
TEXTS = [("CODE", "E", 6), ("LONG", "E", 60), ("ACCOUNT", "E", 10), ("NAME", "K", 10), ("BLANK", "E", 4)]


def number_bytes(rng, kind, length):
    """A valid number (often the largest or zero), or bytes of any kind now and then."""
    digits = 2 * length - 1 if kind == "P" else length
    roll = rng.random()
    if roll < 0.15:
        return bytes(rng.randrange(256) for _ in range(length))
    value = rng.choice([10 ** digits - 1, 0, rng.randrange(10 ** digits), rng.randrange(min(1000, 10 ** digits))])
    value = -value if rng.random() < 0.4 else value
    nibble = rng.choice([None, None, 0xF, 0xA, 0xB, 0xE, 0x3])
    if value == 0 and rng.random() < 0.5:
        nibble = 0xD  # negative zero
    return packed(value, length, nibble) if kind == "P" else zoned(value, digits, nibble=nibble)


def layout_and_records(seed, records, exact):
    rng = random.Random(seed)
    codes = [bytes(rng.choice(EBCDIC_CODE) for _ in range(6)) for _ in range(5000)]
    longs = [bytes(rng.choice(EBCDIC_CODE) for _ in range(60)) for _ in range(3)]
    names = [bytes(rng.choice([0x45, 0x46, 0x47]) for _ in range(10)) for _ in range(40)]
    fields = NUMBERS + TEXTS
    position, lines = 1, []
    for name, kind, length in fields:
        lines.append(f"{name},{position},{length},{kind},1")
        position += length
    record_length = 1100  # 954 records a chunk: chunks, blocks and batches cut the file in different places
    head = [f"RECLEN={record_length}"] + ["CSV=EXACT"] * exact + ["CSV=TRIM"]
    fmt = ("\n".join(head + lines) + "\n").encode()
    data = bytearray()
    for _ in range(records):
        record = bytearray()
        for name, kind, length in NUMBERS:
            record += number_bytes(rng, kind, length)
        record += rng.choice(codes[:rng.choice([50, 5000])])
        record += rng.choice(longs)
        record += bytes(rng.choice(EBCDIC_CODE) for _ in range(10))
        record += rng.choice(names)
        record += rng.choice([b"\x40" * 4, b"\xc1\x40\x40\x40", b"\x40\xc1\x40\x40"])  # empty when trimmed
        data += record.ljust(record_length, b"\x40")
    return fmt, bytes(data)


@pytest.mark.parametrize("exact", [False, True])
def test_columns_over_chunks_blocks_and_batches(exact, write, tmp_path, monkeypatch):
    fmt, data = layout_and_records(28 + exact, 4 * 1024 + 517, exact)
    layout = check_against_command(fmt, data, tmp_path, write)
    assert [layout._kinds[name][1] for name, *_ in NUMBERS] == ["int"] * 8 + ["bigint" if exact else "float"]
    whole = rekmo.read_host(data, layout, threads=2)
    if exact:
        assert whole["P8"].isna().any() and whole["Z15"].isna().any()  # some items are no numbers
    host = write("host.bin", data)
    for threads in (1, 2, 3):
        for block_records in (1, 700, 5000):
            monkeypatch.setattr(rekmo, "_BLOCK_BYTES", block_records * layout.record_length)
            pd.testing.assert_frame_equal(rekmo.read_host(host, layout, threads=threads), whole)
        batches = list(rekmo.iter_batches(host, layout, batch_records=1500, threads=threads))
        pd.testing.assert_frame_equal(pd.concat(batches), whole)
    part = rekmo.read_host(host, layout, records=slice(1000, 2100), text="bytes")
    pd.testing.assert_frame_equal(part, rekmo.read_host(data, layout, text="bytes").iloc[1000:2100])
    # Equal texts share their objects, and are still the values the command writes.
    codes = whole["CODE"]
    assert codes.nunique() <= 5000 and len({id(value) for value in codes}) < len(codes)


# The largest short numbers, zero with a negative sign, and signs and digits
# that are none: (type, item, the plain value, the value under EXACT).
SHORT_VALUES = [
    ("P", packed(999999999999999, 8), 999999999999999, 999999999999999),
    ("P", packed(999999999999999, 8, 0xD), -999999999999999, -999999999999999),
    ("P", packed(0, 8, 0xD), 0, 0),
    ("P", packed(123, 8, 0xF), 123, 123),
    ("P", packed(123, 8, 0x3), -123, None),  # a sign half-byte 0-9: negative, and no number
    ("P", bytes.fromhex("00000000001A2C00"), -1, None),  # A ends the number; sign 0: negative
    ("Z", zoned(999999999999999, 15), 999999999999999, 999999999999999),
    ("Z", zoned(-999999999999999, 15), -999999999999999, -999999999999999),
    ("Z", b"\x40" * 15, 0, None),  # host spaces: zeros, and no number
    ("Z", b"\xf1" * 14 + b"\x41", -111111111111111, None),  # zone 4: negative, and no number
]


@pytest.mark.parametrize("kind,item,plain,exact", SHORT_VALUES)
def test_short_numbers_read_as_the_command_prints_them(kind, item, plain, exact, write, tmp_path):
    fmt = write("n.fmt", f"RECLEN={len(item)}\nN,1,{len(item)},{kind},1\n".encode())
    host = write("host.bin", item * 3000)
    assert run_rekmo(host, tmp_path / "out.csv", fmt)[0] == 0
    assert (tmp_path / "out.csv").read_bytes() == f"{plain}\n".encode() * 3000
    assert rekmo.read_host(host, rekmo.Layout.load(fmt), threads=2)["N"].tolist() == [plain] * 3000
    values = rekmo.read_host(host, rekmo.Layout.parse(fmt.read_bytes() + b"CSV=EXACT\n"), threads=2)["N"]
    assert values.tolist() == [pd.NA if exact is None else exact] * 3000
