"""GAIJI= tables in Python: found from the format file's folder (Layout.load) or
from `base` (Layout.parse), their characters through the Unicode path, and their
faults raised with the command's own messages."""

import os

import pytest

import rekmo
from conftest import run_rekmo

TABLE = b"# site gaiji\n8041 U+E000\n8042 U+20B9F\nA4A2 U+304B U+309A\n"
FORMAT = b"GAIJI=JEF,tables/jef.txt\nRECLEN=8\nA,1,8,FN,1\n"
RECORD = b"\x80\x41\x80\x42\xa4\xa2\xb0\xa1"
TEXT = "\ue000\U00020b9f\u304b\u309a亜"


@pytest.fixture
def site(tmp_path):
    (tmp_path / "fmt" / "tables").mkdir(parents=True)
    (tmp_path / "fmt" / "tables" / "jef.txt").write_bytes(TABLE)
    (tmp_path / "fmt" / "f.fmt").write_bytes(FORMAT)
    return tmp_path


def test_tables_from_the_format_files_folder_or_base(site, monkeypatch):
    monkeypatch.chdir(site)  # the current folder holds no tables/
    layout = rekmo.Layout.load(site / "fmt" / "f.fmt")
    assert list(rekmo.read_host(RECORD * 3, layout)["A"]) == [TEXT] * 3
    # The bytes the command writes: Shift_JIS, the user-defined code F040, 〓 for the rest.
    assert rekmo.read_host(RECORD, layout, text="bytes")["A"][0] == b"\xf0\x40\x81\xac\x81\xac\x88\x9f"
    assert list(rekmo.read_host(RECORD, rekmo.Layout.parse(FORMAT, base=site / "fmt"))["A"]) == [TEXT]
    with pytest.raises(rekmo.FormatError) as raised:
        rekmo.Layout.parse(FORMAT)  # the current folder
    assert raised.value.kind == "cannot_open" and raised.value.value == os.path.join("tables", "jef.txt")
    monkeypatch.chdir(site / "fmt")
    assert list(rekmo.read_host(RECORD, rekmo.Layout.parse(FORMAT))["A"]) == [TEXT]


@pytest.mark.parametrize("table,kind,value", [
    (None, "cannot_open", "tables/jef.txt"),
    (b"8041 U+E000\n8041 U+E001\n", "option", "tables/jef.txt 2"),
    (b"# ok\n80FF U+E000\n", "option", "tables/jef.txt 2"),
    (b"#" * (1 << 20) + b"\n", "format_size", "tables/jef.txt"),
], ids=["missing", "duplicate", "out_of_range", "too_large"])
def test_table_faults_raise_the_commands_message(site, table, kind, value, tmp_path):
    path = site / "fmt" / "tables" / "jef.txt"
    if table is None:
        path.unlink()
    else:
        path.write_bytes(table)
    with pytest.raises(rekmo.FormatError) as raised:
        rekmo.Layout.load(site / "fmt" / "f.fmt")
    error = raised.value
    shown = str(site / "fmt") + os.sep + value
    assert (error.kind, error.value) == (kind, shown)
    status, message = run_rekmo(tmp_path / "none.bin", tmp_path / "out.csv", site / "fmt" / "f.fmt")
    assert status == 1 and error.message == message
