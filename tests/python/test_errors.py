"""Bad input raises a clear exception with rekmo's own message (the command's,
compared as it prints it) and never harms the interpreter or an input file."""

import array
import ast
import os
import re
import shutil
import threading

import pytest

import rekmo
from conftest import run_rekmo, source

CASE = re.compile(r'^((?:"(?:[^"\\]|\\.)*"(?:\*\d+)?\s*)+)=>\s*([A-Z_]+)(?:#(\d+))?(?:\((.*?)\))?\s+(-?\d+)')


def format_cases():
    """The format texts of tests/data/formats.txt, with the fault each must give."""
    with open(source("tests/data/formats.txt"), encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            match = CASE.match(line)
            if match:
                text = b"".join(ast.literal_eval("b" + literal) * int(times or 1) for literal, times in
                                re.findall(r'("(?:[^"\\]|\\.)*")(?:\*(\d+))?', match.group(1)))
                # The table writes a space in a value as \x20, as the C++ test shows it.
                value = re.sub(r"\\x([0-9A-Fa-f]{2})", lambda m: chr(int(m.group(1), 16)), match.group(4) or "")
                yield pytest.param(text, match.group(2).lower(), int(match.group(3) or 0), value,
                                   int(match.group(5)), id=f"formats.txt:{number}")


@pytest.mark.parametrize("text,kind,item,value,record_length", list(format_cases()))
def test_formats_read_as_the_command_reads_them(text, kind, item, value, record_length, write, tmp_path):
    if kind == "ok":
        try:
            layout = rekmo.Layout.parse(text, base=tmp_path)
        except rekmo.FormatError as error:
            # Accepted; then the first table of its GAIJI lines is read, from an empty folder here.
            assert b"GAIJI=" in text.upper() and error.kind == "cannot_open"
            return
        assert layout.record_length == record_length
        return
    with pytest.raises(rekmo.FormatError) as raised:
        rekmo.Layout.load(write("bad.fmt", text))
    error = raised.value
    assert (error.kind, error.item_number, error.value) == (kind, item, value)
    status, message = run_rekmo(tmp_path / "none.bin", tmp_path / "out.csv", tmp_path / "bad.fmt")
    assert error.message == message and status == 1
    assert str(error).startswith(("the item", "the record length", "the host code", "an option line"))
    assert error.message in str(error)


def test_files_that_cannot_be_read_raise_oserror(tmp_path, write):
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    with pytest.raises(FileNotFoundError):
        rekmo.Layout.load(tmp_path / "none.fmt")
    with pytest.raises(IsADirectoryError):
        rekmo.Layout.load(tmp_path)
    for call in (rekmo.read_host, rekmo.iter_batches, lambda path, layout: rekmo.convert(path, tmp_path / "w", layout)):
        with pytest.raises(FileNotFoundError):
            list(call(tmp_path / "none.bin", layout))
        with pytest.raises(IsADirectoryError):
            list(call(tmp_path, layout))
    assert not (tmp_path / "w").exists()
    host = write("host.bin", b"\xc1" * 256)
    with pytest.raises(FileNotFoundError):
        rekmo.convert(host, tmp_path / "no" / "out.csv", layout)
    for same in (host, source("tests/data/every_type.fmt")):
        with pytest.raises(shutil.SameFileError):
            rekmo.convert(host, same, layout)
        with pytest.raises(shutil.SameFileError, match="WinFile"):  # paths given as bytes
            rekmo.convert(os.fsencode(host), os.fsencode(same), layout)
    assert host.read_bytes() == b"\xc1" * 256


def test_a_format_file_that_goes_on_past_16_mib_is_refused_as_the_command_refuses_it(tmp_path, write):
    longest = b"A,1,1,E,1\n" + b"\n" * ((16 << 20) - 10)
    for fmt in ("/dev/zero", write("over.fmt", longest + b"\n")):
        with pytest.raises(rekmo.FormatError) as raised:
            rekmo.Layout.load(fmt)
        assert raised.value.kind == "format_size"
        assert (1, raised.value.message) == run_rekmo(tmp_path / "none.bin", tmp_path / "out.csv", fmt)
    # 16 MiB whole, and a longer file that an end-of-file mark ends in time.
    for text in (longest, b"A,1,1,E,1\n\x1a" + b"\n" * (16 << 20)):
        assert rekmo.Layout.load(write("ok.fmt", text)).record_length == 1


def test_conversion_failures_raise_conversion_error_with_the_commands_message(tmp_path, write):
    fmt = source("tests/data/every_type.fmt")
    layout = rekmo.Layout.load(fmt)
    short = write("short.bin", b"\0" * 300)
    for call in (lambda: rekmo.convert(short, tmp_path / "out.csv", layout), lambda: rekmo.read_host(short, layout),
                 lambda: list(rekmo.iter_batches(short, layout))):
        with pytest.raises(rekmo.ConversionError) as raised:
            call()
        assert raised.value.kind == "size_mismatch"
        assert raised.value.message == run_rekmo(short, tmp_path / "out.csv", fmt)[1]
    with pytest.raises(rekmo.ConversionError, match="<memory> 256"):
        rekmo.read_host(b"\0" * 257, layout)
    # A stream that ends inside a record, and an output that takes nothing.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    for call in (lambda: rekmo.convert(fifo, tmp_path / "out.csv", layout), lambda: rekmo.read_host(fifo, layout)):
        threading.Thread(target=lambda: open(fifo, "wb").write(b"\0" * 600), daemon=True).start()
        with pytest.raises(rekmo.ConversionError) as raised:
            call()
        assert raised.value.kind == "read_error"
    assert os.path.getsize(tmp_path / "out.csv") > 0  # the lines of the whole records before it
    with pytest.raises(rekmo.ConversionError) as raised:
        rekmo.convert(source("tests/data/every_type.bin"), "/dev/full", layout)
    assert raised.value.kind == "write_error" and raised.value.message == run_rekmo(
        source("tests/data/every_type.bin"), "/dev/full", fmt)[1]


def test_convert_writes_the_commands_bytes(tmp_path):
    host, fmt = source("tests/data/every_type.bin"), source("tests/data/every_type.fmt")
    for threads in (None, 1, 3):
        rekmo.convert(host, tmp_path / "out.csv", rekmo.Layout.load(fmt), threads=threads)
        assert (tmp_path / "out.csv").read_bytes() == open(source("tests/data/every_type.csv"), "rb").read()


@pytest.mark.parametrize("arguments,error", [
    (dict(records=slice(0, 121)), IndexError), (dict(records=slice(-121, None)), IndexError),
    (dict(records=slice(5, 2)), IndexError), (dict(records=slice(0, 9, 2)), ValueError),
    (dict(records=3), TypeError), (dict(columns=["E", "NOPE"]), KeyError), (dict(columns=["E", "E"]), ValueError),
    (dict(text="utf-8"), ValueError), (dict(threads=0), ValueError),
])
def test_bad_arguments_raise(arguments, error):
    layout = rekmo.Layout.load(source("tests/data/every_type.fmt"))
    with pytest.raises(error):
        rekmo.read_host(source("tests/data/every_type.bin"), layout, **arguments)


@pytest.mark.parametrize("data", [5, 1 << 40, [65, 44, 49, 44, 49, 44, 69, 44, 49], 2.5, None])
def test_a_format_is_bytes_like_or_str(data):
    """Not bytes(n), n zero bytes; not a list of byte values."""
    with pytest.raises(TypeError):
        rekmo.Layout.parse(data)


def test_layouts_read_from_any_bytes_like_object_but_never_from_a_file_descriptor():
    text = open(source("examples/customers.fmt"), "rb").read()
    expected = rekmo.Layout.parse(text).items
    for data in (bytearray(text), memoryview(text), array.array("B", text), text.decode("cp932")):
        assert rekmo.Layout.parse(data).items == expected
    descriptor = os.open(source("examples/customers.fmt"), os.O_RDONLY)
    try:
        with pytest.raises(TypeError):
            rekmo.Layout.load(descriptor)
        os.fstat(descriptor)  # still open
    finally:
        os.close(descriptor)


def test_a_file_that_shrinks_or_changes_while_read_raises_read_error(tmp_path, monkeypatch):
    # A regular file is read on the decoding threads, a chunk each: one that
    # shrinks after its size was taken, or is replaced by another file, is a
    # read error as for the command, never a frame of the records it no
    # longer has. Many chunks, so that the one that fails is not the first.
    layout = rekmo.Layout.parse(b"RECLEN=100\nNAME,1,20,E,1\nCOUNT,21,4,P,1\n")
    host = tmp_path / "host.bin"
    record = b"\xc1" * 20 + b"\x00\x00\x12\x3c" + b"\x40" * 76
    host.write_bytes(record * 50_000)
    whole = rekmo.read_host(host, layout)
    assert len(whole) == 50_000 and whole["COUNT"].iloc[-1] == 123
    original = rekmo._Reader.read_file

    def shrinking(self, src, first, records, out):
        os.truncate(src.name, 30_000 * 100 + 50)
        return original(self, src, first, records, out)

    def replaced(self, src, first, records, out):
        other = tmp_path / "other.bin"
        other.write_bytes(host.read_bytes())
        os.replace(other, host)
        return original(self, src, first, records, out)

    for change in (shrinking, replaced):
        monkeypatch.setattr(rekmo._Reader, "read_file", change)
        with pytest.raises(rekmo.ConversionError) as raised:
            rekmo.read_host(host, layout)
        assert raised.value.kind == "read_error"
        host.write_bytes(record * 50_000)
    monkeypatch.setattr(rekmo._Reader, "read_file", original)
    # The decoder's own answers: the records past the end, and no file at all.
    reader = rekmo._Reader(layout, None, "str", 2)
    info = os.stat(host)
    identity = (info.st_dev, info.st_ino)
    assert reader.decoder.read_file(os.fsencode(host), identity, 49_000, 1_000, reader.allocate(1_000)) is None
    assert reader.decoder.read_file(os.fsencode(host), identity, 49_000, 1_001, reader.allocate(1_001)) == "read_error"
    assert reader.decoder.read_file(os.fsencode(tmp_path / "none"), identity, 0, 1, reader.allocate(1)) == "cannot_open"
