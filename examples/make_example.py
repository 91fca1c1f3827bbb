#!/usr/bin/env python3
"""Writes customers.bin and customers.fmt: a small customer master as a host
would hand it over (fixed-length records, every item type), and its format
file in Shift_JIS. Also writes ../tests/data/customers.csv, the CSV rekmo must
make of it, built here from the source texts (not by rekmo). Run it again to
get the same bytes."""

import os

HERE = os.path.dirname(os.path.abspath(__file__))

# JIS X 0201 byte -> host single-byte code, for the characters used here.
HOST = {0x20: 0x40, 0x2D: 0x60, 0x2E: 0x4B, 0x2F: 0x61, 0x28: 0x4D, 0x29: 0x5D}
HOST.update({0x41 + i: b for i, b in enumerate(list(range(0xC1, 0xCA)) + list(range(0xD1, 0xDA)) + list(range(0xE2, 0xEA)))})
HOST.update({0x30 + i: 0xF0 + i for i in range(10)})
KATAKANA_HOST = (list(range(0x81, 0x8B)) + list(range(0x8C, 0x90)) + list(range(0x90, 0x9B)) + [0x9D, 0x9E, 0x9F]
                 + list(range(0xA2, 0xAB)) + list(range(0xAC, 0xB0)) + list(range(0xBA, 0xC0)))
HOST.update({0xB1 + i: b for i, b in enumerate(KATAKANA_HOST)})


def host_sb(text, n):
    data = bytes(HOST[b] for b in text.encode("cp932"))
    return data.ljust(n, b"\x40")


def jis(text):  # JIS X 0208 row/cell bytes
    return text.encode("iso2022_jp")[3:-3]


def keis_n(text, n):  # double-byte only, padded with ideographic spaces
    return bytes(b | 0x80 for b in jis(text)).ljust(n, b"\xa1")


def keis(parts, n):  # (single-byte text, double-byte text) pairs
    out = b""
    for sb, db in parts:
        out += host_sb(sb, len(sb))
        if db:
            out += b"\x0a\x42" + bytes(b | 0x80 for b in jis(db)) + b"\x0a\x41"
    return out.ljust(n, b"\x40")


def jef(parts, n):
    out = b""
    for sb, db in parts:
        out += host_sb(sb, len(sb))
        if db:
            out += b"\x28" + bytes(b | 0x80 for b in jis(db)).replace(b"\xa1\xa1", b"\x40\x40") + b"\x29"
    return out.ljust(n, b"\x40")


def jef_n(text, n):
    data = bytes(b | 0x80 for b in jis(text)).replace(b"\xa1\xa1", b"\x40\x40")
    return data.ljust(n, b"\x40")


def jis_text(parts, n):
    out = b""
    for sb, db in parts:
        out += sb.encode("ascii")
        if db:
            out += b"\x1b\x24\x42" + jis(db) + b"\x1b\x28\x4a"
    return out.ljust(n, b" ")


def packed(value, n):
    digits = str(abs(value)).rjust(2 * n - 1, "0")
    nibbles = [int(d) for d in digits] + [0xD if value < 0 else 0xC]
    return bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, 2 * n, 2))


def zoned(value, n):
    digits = str(value).rjust(n, "0")
    return bytes(0xF0 | int(d) for d in digits)


CUSTOMERS = [
    ("C0001001", "ﾔﾏﾀﾞ ﾀﾛｳ", "山田　太郎", [("1-2-3 ", "東京都千代田区丸の内")], [("", "日本商事株式会社")], "営業部",
     [("TEL 03-1234-5678 ", "定期契約")], 1250000, 20150401),
    ("C0001002", "ｽｽﾞｷ ﾊﾅｺ", "鈴木　花子", [("", "大阪府大阪市北区梅田"), (" 2-4", "")], [("ABC ", "物産")], "経理課",
     [("", "請求書送付先変更")], -38200, 20180715),
    ("C0001003", "ｻﾄｳ ｲﾁﾛｳ", "佐藤　一郎", [("", "愛知県名古屋市中区栄"), (" 5-6-7", "")], [("", "中部電機工業")], "購買部",
     [("NEW ", "新規")], 0, 20240110),
    ("C0001004", "ﾀﾅｶ ﾐﾕｷ", "田中　美幸", [("", "福岡県福岡市博多区"), (" 1-1", "")], [("", "九州運輸"), (" (K.K.)", "")],
     "総務課", [("", "支払条件　月末締め")], 99999999999, 20121201),
]

ITEMS = [  # name (Shift_JIS), length, type, output
    ("顧客番号", 8, "E", 1),
    ("カナ氏名", 16, "E", 1),
    ("漢字氏名", 20, "KN", 1),
    ("住所", 60, "K", 1),
    ("会社名", 40, "F", 1),
    ("部署", 12, "FN", 1),
    ("メモ", 40, "J", 1),
    ("残高", 6, "P", 1),
    ("取引開始日", 8, "Z", 1),
    ("予備", 10, "E", 0),
]


def record(c):
    custno, kana, name, addr, company, dept, memo, balance, since = c
    parts = [host_sb(custno, 8), host_sb(kana, 16), keis_n(name, 20), keis(addr, 60), jef(company, 40),
             jef_n(dept, 12), jis_text(memo, 40), packed(balance, 6), zoned(since, 8), b"\x40" * 10]
    data = b"".join(parts)
    assert all(len(p) == n for p, (_, n, _, _) in zip(parts, ITEMS)), [len(p) for p in parts]
    return data


def expected_line(c):
    """The CSV line for a customer, from the texts the record was made of:
    host spaces pad E, K and F items; ideographic spaces pad KN and FN items;
    the J memo keeps its ASCII space padding."""
    custno, kana, name, addr, company, dept, memo, balance, since = c
    joined = lambda parts: "".join(sb + db for sb, db in parts)
    def pad_sb(text, n):
        return text + " " * (n - len(text.encode("cp932")))
    def pad_db(text, n):
        return text + "\u3000" * ((n - 2 * len(text)) // 2)
    def mixed_len(parts, shift):
        return sum(len(sb) + (2 * len(db) + 2 * shift if db else 0) for sb, db in parts)
    fields = [
        pad_sb(custno, 8), pad_sb(kana, 16), pad_db(name, 20),
        joined(addr) + " " * (60 - mixed_len(addr, 2)),
        joined(company) + " " * (40 - mixed_len(company, 1)),
        pad_db(dept, 12),
        joined(memo) + " " * (40 - sum(len(sb) + (2 * len(db) + 6 if db else 0) for sb, db in memo)),
        str(balance), str(since),
    ]
    return (",".join(fields) + "\n").encode("cp932")


def format_text():
    reclen = sum(n for _, n, _, _ in ITEMS)
    lines = ["# 顧客マスタ (customer master)", "# 項目名,位置,長さ,型,出力", "RECLEN=%d" % reclen]
    pos = 1
    for name, n, kind, out in ITEMS:
        lines.append("%s,%d,%d,%s,%d" % (name, pos, n, kind, out))
        pos += n
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


if __name__ == "__main__":
    with open(os.path.join(HERE, "customers.bin"), "wb") as f:
        f.write(b"".join(record(c) for c in CUSTOMERS))
    with open(os.path.join(HERE, "customers.fmt"), "wb") as f:
        f.write(format_text())
    with open(os.path.join(HERE, "..", "tests", "data", "customers.csv"), "wb") as f:
        f.write(b"".join(expected_line(c) for c in CUSTOMERS))
