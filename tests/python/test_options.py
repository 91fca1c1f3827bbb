"""The format's option lines (CSV=, SCALE=, SIGN=, DIGITS=) in DataFrames: every
value against the rekmo command's CSV for the same file, read with the csv
module (Decimal against the CSV's text, ints against its digits, an empty
number field as a missing value), and exact numbers against the values the
test encoded into the host data itself."""

import csv
import decimal
import io
import math
import random

import numpy as np
import pandas as pd
import pytest

import rekmo
from conftest import run_rekmo

NUMBER_TYPES = ("P", "Z")
SIGNS = [None, "LEADING", "LEADING SEPARATE", "TRAILING SEPARATE"]


def zoned(value, digits, sign=None, nibble=None):
    """A zoned number of `digits` digits: the sign in the zone of the last byte (or
    the first, or a byte of its own, 4E '+' or 60 '-')."""
    text = str(abs(value)).rjust(digits, "0")
    assert len(text) == digits
    body = bytearray(0xF0 | int(d) for d in text)
    nibble = nibble if nibble is not None else (0xD if value < 0 else 0xC)
    if sign in (None, "LEADING"):
        at = -1 if sign is None else 0
        body[at] = nibble << 4 | body[at] & 0x0F
        return bytes(body)
    mark = b"\x60" if value < 0 else b"\x4e"
    return mark + bytes(body) if sign == "LEADING SEPARATE" else bytes(body) + mark


def packed(value, length, nibble=None):
    """A packed number of `length` bytes: 2 * length - 1 digits, then the sign half-byte."""
    nibble = nibble if nibble is not None else (0xD if value < 0 else 0xC)
    text = str(abs(value)).rjust(2 * length - 1, "0")
    assert len(text) == 2 * length - 1
    return bytes.fromhex(text + "%X" % nibble)


def csv_fields(data):
    """The rows of a CSV written under CSV=QUOTE, each field as its bytes."""
    text = data.decode("latin-1")  # byte for byte; ',', '"', CR and LF stay themselves
    rows = csv.reader(io.StringIO(text, newline=""), strict=True)
    # The reader gives no field for an empty line: a line of one empty field.
    return [[field.encode("latin-1") for field in row or [""]] for row in rows]


def same(value, expected):
    """Equal and of the same kind: a float by its repr (-0.0, nan), a Decimal with its
    exponent, an int as an int, a missing value as missing."""
    if expected is None:
        return value is None
    if expected is pd.NA:
        return value is pd.NA
    if isinstance(expected, float):
        return isinstance(value, float) and repr(value) == repr(expected)
    if isinstance(expected, decimal.Decimal):
        return isinstance(value, decimal.Decimal) and value.as_tuple() == expected.as_tuple()
    if isinstance(value, np.int64):  # an Int64 column's value
        return type(expected) is int and int(value) == expected
    return type(value) is type(expected) and value == expected


def expected_value(kind, field, text):
    """A column value from the command's field: by the column's kind."""
    if kind == "text":
        return field.decode("cp932", "surrogateescape") if text == "str" else field
    digits = field.decode("ascii")
    if kind == "int":
        return int(digits) if digits else pd.NA
    if kind == "bigint":
        return int(digits) if digits else None
    if kind == "digits":
        return digits or None
    if kind == "decimal":
        return decimal.Decimal(digits) if digits else None
    return float(digits) if digits else math.nan  # "float", "scaled"


DTYPES = {"text": object, "int": pd.Int64Dtype(), "bigint": object, "digits": object, "decimal": object,
          "float": np.float64, "scaled": np.float64}


def column_kinds(layout, decimals):
    kinds = [layout._kinds[name][1] for name in layout.columns]
    return ["decimal" if kind == "scaled" and decimals == "decimal" else kind for kind in kinds]


def check_against_command(fmt, data, tmp_path, write, threads=2):
    """Every column of read_host (str and bytes texts, floats and Decimals) against
    the command's CSV of the same format with QUOTE and HEADER added; convert()
    against the command on the format itself."""
    layout = rekmo.Layout.parse(fmt)
    host = write("host.bin", data)
    quoted = write("quoted.fmt", fmt + b"CSV=QUOTE,HEADER\n")
    assert run_rekmo(host, tmp_path / "quoted.csv", quoted)[0] == 0
    header, *rows = csv_fields((tmp_path / "quoted.csv").read_bytes())
    output = [item for item in layout.items if item.column is not None]
    assert header == [item.name.encode("cp932") for item in output]
    assert len(rows) == len(data) // layout.record_length
    for text in ("str", "bytes"):
        for decimals in ("float", "decimal"):
            frame = rekmo.read_host(data, layout, text=text, decimals=decimals, threads=threads)
            kinds = column_kinds(layout, decimals)
            assert list(frame.dtypes) == [DTYPES[kind] for kind in kinds]
            for c, (name, kind) in enumerate(zip(layout.columns, kinds)):
                for r, value in enumerate(frame[name]):
                    expected = expected_value(kind, rows[r][c], text)
                    assert same(value, expected), (name, r, value, expected)
    assert run_rekmo(host, tmp_path / "command.csv", write("own.fmt", fmt))[0] == 0
    rekmo.convert(host, tmp_path / "convert.csv", layout)
    assert (tmp_path / "convert.csv").read_bytes() == (tmp_path / "command.csv").read_bytes()
    return layout


# Texts with what QUOTE and TRIM act on: EBCDIC '"' 7F, ',' 6B, CR 0D, LF 25,
# spaces 40; KEIS ideographic spaces A1A1 and kanji; JIS with 2121 (81 40).
TEXT_BYTES = [0x7F, 0x6B, 0x0D, 0x25, 0x40, 0x40, 0xC1, 0xF1, 0x81, 0x4B]
KEIS_PAIRS = [b"\xa1\xa1", b"\xb0\xa1", b"\xc6\xfc", b"\xa1\xa1", b"\x40\x40"]


def random_option_case(seed, records=60):
    """A layout of P, Z and text items under random option lines, and records whose
    numbers are mostly valid (every sign half-byte A-F, zeros, the largest values)
    and sometimes no numbers at all (spaces, stray digits, bad sign bytes)."""
    rng = random.Random(seed)
    words = [word for word in ("QUOTE", "HEADER", "EXACT", "TRIM") if rng.random() < 0.6]
    lines = [f"CSV={','.join(words)}"] if words else []
    items, options, position = [], [], 1
    for i in range(rng.randint(2, 9)):
        kind = rng.choice(["P", "Z", "Z", "E", "KN", "J"])
        length = {"P": rng.randint(1, 14), "Z": rng.randint(1, 26)}.get(kind, rng.randint(1, 12))
        if kind == "KN":
            length += length % 2
        form = {"sign": None, "scale": None, "digits": False}
        if kind in NUMBER_TYPES:
            if kind == "Z" and rng.random() < 0.4:
                form["sign"] = rng.choice(SIGNS[1:])
                length = max(length, 2)
                options.append(f"SIGN=I{i},{form['sign']}")
            choice = rng.random()
            if choice < 0.35:
                form["scale"] = rng.choice([1, 2, 3, 5, -1, -3, 0, 12])
                options.append(f"SCALE=I{i},{form['scale']}")
            elif choice < 0.55:
                form["digits"] = True
                options.append(f"DIGITS=I{i}")
        items.append((f"I{i}", position, length, kind, form))
        lines.append(f"I{i},{position},{length},{kind},{int(rng.random() > 0.1)}")
        position += length
    rng.shuffle(options)
    lines[rng.randint(0, len(lines)):0] = options  # option lines anywhere among the items
    record_length = position - 1

    def number(kind, length, form):
        if rng.random() < 0.2:  # no number: spaces, or any bytes
            return rng.choice([b"\x40" * length, bytes(rng.randrange(256) for _ in range(length))])
        separate = form["sign"] in ("LEADING SEPARATE", "TRAILING SEPARATE")
        digits = 2 * length - 1 if kind == "P" else length - separate
        value = rng.choice([0, 10 ** digits - 1, rng.randrange(10 ** digits), rng.randrange(10 ** min(digits, 3))])
        value = -value if rng.random() < 0.5 else value
        nibble = None if separate else rng.choice([0xA, 0xB, 0xC, 0xD, 0xE, 0xF, None, None])
        return packed(value, length, nibble) if kind == "P" else zoned(value, digits, form["sign"], nibble)

    def text(kind, length):
        if kind == "KN":
            return b"".join(rng.choice(KEIS_PAIRS) for _ in range(length // 2))
        if kind == "J":
            body = rng.choice([b"A,B", b'5"', b"\x1b$B!!", b"\x1b$B0!!!\x1b(B  ", b"  "])
            return (body + b" " * length)[:length]
        return bytes(rng.choice(TEXT_BYTES) for _ in range(length))

    data = b"".join(
        b"".join(number(kind, length, form) if kind in NUMBER_TYPES else text(kind, length)
                 for _, _, length, kind, form in items)
        for _ in range(records))
    assert len(data) == records * record_length
    return ("\n".join(lines) + "\n").encode(), data


@pytest.mark.parametrize("seed", range(16))
def test_random_options_equal_the_commands_csv(seed, tmp_path, write):
    check_against_command(*random_option_case(seed), tmp_path, write)


def test_parts_on_several_threads_and_batches_equal_the_commands_csv(tmp_path, write):
    fmt, data = random_option_case(100, records=5000)  # decoded in parts on several threads
    layout = check_against_command(fmt, data, tmp_path, write, threads=3)
    for decimals in ("float", "decimal"):
        whole = rekmo.read_host(data, layout, decimals=decimals, threads=1)
        batches = rekmo.iter_batches(data, layout, batch_records=777, decimals=decimals, threads=2)
        pd.testing.assert_frame_equal(pd.concat(list(batches)), whole)


# A record of known values, each encoded here from the value itself.
KNOWN_FORMAT = """CSV=EXACT,TRIM,QUOTE
RECLEN={reclen}
NAME,1,8,E,1
BIG,9,22,Z,1
PBIG,31,12,P,1
AMOUNT,43,4,Z,1
RATE,47,6,Z,1
ZIP,53,7,Z,1
ACCOUNT,60,5,P,1
SMALL,65,3,Z,1
HUGE,68,300,Z,1
SCALE=AMOUNT,2
SIGN=RATE,LEADING SEPARATE
SCALE=RATE,4
DIGITS=ZIP
DIGITS=ACCOUNT
SCALE=HUGE,-300
"""

KNOWN = [
    # NAME, BIG, PBIG (23 digits), AMOUNT (cents), RATE, ZIP, ACCOUNT (9 digits), SMALL, HUGE
    ('5" DISK', 3050393257676267681234, -12345678901234567890123, 3050, -12345, 600001, 1234, -7, 10 ** 299),
    ("A,B", -9007199254740993, 10 ** 22, -5, 0, 0, -42, 0, -1),
    ("", 10 ** 22 - 1, -(10 ** 23 - 1), 0, 99999, 9999999, 999999999, 999, -(10 ** 299) - 3),
]


def known_record(name, big, pbig, amount, rate, zip_code, account, small, huge):
    return (name.encode("cp500").ljust(8, b"\x40") + zoned(big, 22) + packed(pbig, 12) + zoned(amount, 4)
            + zoned(rate, 5, "LEADING SEPARATE") + zoned(zip_code, 7) + packed(account, 5) + zoned(small, 3)
            + zoned(huge, 300))


def test_exact_values_as_the_host_holds_them(tmp_path, write):
    fmt = KNOWN_FORMAT.format(reclen=367).encode()
    spaces = b"\x40" * 367  # no number anywhere: every number column missing
    data = b"".join(known_record(*values) for values in KNOWN) + spaces
    layout = check_against_command(fmt, data, tmp_path, write)
    assert layout.csv == {"EXACT", "TRIM", "QUOTE"}
    frame = rekmo.read_host(data, layout, decimals="decimal")
    floats = rekmo.read_host(data, layout)
    for r, (name, big, pbig, amount, rate, zip_code, account, small, huge) in enumerate(KNOWN):
        row = frame.iloc[r]
        assert row["NAME"] == name  # trimmed, unquoted
        assert type(row["BIG"]) is int and row["BIG"] == big
        assert type(row["PBIG"]) is int and row["PBIG"] == pbig
        assert same(row["AMOUNT"], decimal.Decimal(amount).scaleb(-2))
        assert same(floats["AMOUNT"][r], float(decimal.Decimal(amount).scaleb(-2)))
        assert same(row["RATE"], decimal.Decimal(rate).scaleb(-4))
        assert row["ZIP"] == str(zip_code).rjust(7, "0")
        assert row["ACCOUNT"] == ("-" if account < 0 else "") + str(abs(account)).rjust(9, "0")
        assert frame["SMALL"][r] == small
        assert same(row["HUGE"], decimal.Decimal(huge * 10 ** 300))  # the digits and 300 zeros
        assert same(floats["HUGE"][r], float(decimal.Decimal(huge * 10 ** 300)))  # beyond 1.8e308: inf
    assert frame.dtypes["SMALL"] == "Int64"
    assert frame["SMALL"][3] is pd.NA and math.isnan(floats["AMOUNT"][3])
    assert frame.iloc[3][["BIG", "PBIG", "AMOUNT", "RATE", "ZIP", "ACCOUNT", "HUGE"]].isna().all()
    assert str(frame["AMOUNT"][2]) == "0.00" and str(frame["RATE"][1]) == "0.0000"  # zero never signed


# Column types at their bounds: Int64 holds every exact value of up to 18
# digits (a separate sign byte holds none), Python ints the longer ones.
BOUNDS = [
    ("Z", 18, "CSV=EXACT", None, pd.Int64Dtype()),
    ("Z", 19, "CSV=EXACT", None, object),
    ("Z", 19, "SIGN=N,TRAILING SEPARATE", "TRAILING SEPARATE", pd.Int64Dtype()),
    ("Z", 20, "SIGN=N,LEADING SEPARATE", "LEADING SEPARATE", object),
    ("Z", 19, "SIGN=N,LEADING", "LEADING", object),
    ("P", 9, "CSV=EXACT", None, pd.Int64Dtype()),
    ("P", 10, "CSV=EXACT", None, object),
    ("Z", 3, "SCALE=N,0", None, pd.Int64Dtype()),
    ("P", 10, "CSV=QUOTE", None, np.float64),  # not exact: as without options
]


@pytest.mark.parametrize("kind,length,option,sign,dtype", BOUNDS)
def test_column_types_at_their_bounds(kind, length, option, sign, dtype, tmp_path, write):
    separate = sign in ("LEADING SEPARATE", "TRAILING SEPARATE")
    digits = 2 * length - 1 if kind == "P" else length - separate
    values = [10 ** digits - 1, -(10 ** digits - 1), 0, -(10 ** (digits - 1)) - 7]
    encode = (lambda v: packed(v, length)) if kind == "P" else (lambda v: zoned(v, digits, sign))
    fmt = f"N,1,{length},{kind},1\n{option}\n".encode()
    layout = check_against_command(fmt, b"".join(map(encode, values)), tmp_path, write)
    column = rekmo.read_host(b"".join(map(encode, values)), layout)["N"]
    assert column.dtype == dtype
    if dtype != np.float64:
        assert [int(value) for value in column] == values


def test_layout_exposes_the_options():
    layout = rekmo.Layout.parse(KNOWN_FORMAT.format(reclen=367) + "CSV=HEADER\nCSV=HEADER,QUOTE\n")
    assert layout.csv == {"EXACT", "TRIM", "QUOTE", "HEADER"}
    forms = {item.name: (item.exact, item.scale, item.sign, item.digits) for item in layout.items}
    assert forms == {"NAME": (False, 0, None, False), "BIG": (True, 0, None, False), "PBIG": (True, 0, None, False),
                     "AMOUNT": (True, 2, None, False), "RATE": (True, 4, "LEADING SEPARATE", False),
                     "ZIP": (True, 0, None, True), "ACCOUNT": (True, 0, None, True), "SMALL": (True, 0, None, False),
                     "HUGE": (True, -300, None, False)}
    # Without EXACT only the items a line names are exact; a name shared by two
    # items gives both its form.
    named = rekmo.Layout.parse("A,1,3,Z,1\nB,4,2,P,1\nA,6,3,Z,1\nSIGN=A,LEADING\nE,9,2,E,1\n")
    assert named.csv == frozenset()
    assert [(item.exact, item.sign) for item in named.items] == [(True, "LEADING"), (False, None),
                                                                 (True, "LEADING"), (False, None)]
    assert [kind for _, kind in named._kinds.values()] == ["int", "int", "int", "text"]


def test_without_options_columns_stay_as_they_were():
    fmt = "A,1,9,P,1\nB,10,20,Z,1\nC,30,2,E,1\nCSV=QUOTE,TRIM,HEADER\n"
    plain, quoted = rekmo.Layout.parse(fmt.split("CSV=")[0]), rekmo.Layout.parse(fmt)
    data = packed(-123456789012345, 9) + zoned(10 ** 19 + 1, 20) + b"\x7f\x40"
    for layout in (plain, quoted):
        assert [item.exact for item in layout.items] == [False] * 3
        frame = rekmo.read_host(data, layout)
        assert list(frame.dtypes) == [pd.Int64Dtype(), np.float64, object]
        assert frame["A"][0] == -123456789012345 and frame["B"][0] == 1e19
    assert rekmo.read_host(data, plain)["C"][0] == '" '
    assert rekmo.read_host(data, quoted)["C"][0] == '"'  # trimmed; no quotes added
    assert rekmo.read_host(data, quoted, text="bytes")["C"][0] == b'"'


def test_decimals_is_float_or_decimal():
    layout = rekmo.Layout.parse("A,1,3,Z,1\nSCALE=A,1\n")
    for decimals in ("Decimal", None, decimal.Decimal):
        with pytest.raises(ValueError):
            rekmo.read_host(b"", layout, decimals=decimals)
        with pytest.raises(ValueError):
            next(rekmo.iter_batches(b"\xf1\xf2\xf3", layout, decimals=decimals))


def test_dask_equals_read_host_with_options(write):
    dask = pytest.importorskip("rekmo.dask")
    fmt, data = random_option_case(19, records=300)
    layout = rekmo.Layout.parse(fmt)
    assert {"scaled", "bigint", "int", "text"} <= {kind for _, kind in layout._kinds.values()}
    length = layout.record_length
    paths = [write("a.bin", data[:100 * length]), write("b.bin", data[100 * length:])]
    for decimals in ("float", "decimal"):
        frame = dask.read_host(paths, layout, blocksize=37 * length, decimals=decimals)
        assert frame.npartitions == 3 + 6
        expected = rekmo.read_host(data, layout, decimals=decimals)
        pd.testing.assert_frame_equal(frame.compute(scheduler="sync"), expected)
        assert list(frame.dtypes) == list(expected.dtypes)
