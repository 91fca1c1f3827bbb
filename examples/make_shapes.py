#!/usr/bin/env python3
"""Writes the two examples of real file shapes, each with its format file in
Shift_JIS and the CSV rekmo must make of it (under tests/data/, built here
from the source texts, not by rekmo). Run it again to get the same bytes.

- transfer.bin, transfer.fmt: a bank transfer request file of 120-byte
  records of four kinds told apart by their first byte: a header (1), data
  records (2), a trailer (8) with the count and the sum, and an end record
  (9). Half-width katakana names, zoned amounts, bank and account numbers
  kept with their zeros.
- orders.bin, orders.fmt: an order file of variable-length records (RECFM=VB):
  each order holds as many detail lines as it has, so its record is as long
  as they are; the detail columns an order does not have are empty."""

import os

from make_example import host_sb, zoned

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "tests", "data")


def digits(text, n):  # a zoned code: every digit, zeros kept
    assert len(text) == n and text.isdigit()
    return bytes(0xF0 | int(d) for d in text)


def trim(text):
    return text.rstrip(" ")


# --- The transfer file ------------------------------------------------------

REQUESTER = ("0012345678", "ｶ)ﾆﾎﾝｼﾖｳｼﾞ", "0425", "0001", "ﾐﾂﾊﾞｼ", "101", "ﾏﾙﾉｳﾁ", "1", "0654321")
TRANSFERS = [  # bank, bank name, branch, branch name, kind, account, payee, amount
    ("0005", "ﾐﾂﾊﾞｼ", "044", "ｼﾝｼﾞﾕｸ", "1", "0012345", "ﾔﾏﾀﾞ ﾀﾛｳ", 125000),
    ("0009", "ﾐﾂｲ", "210", "ｳﾒﾀﾞ", "2", "7654321", "ｽｽﾞｷ ﾊﾅｺ", 38200),
    ("0001", "ﾐｽﾞﾎ", "001", "ﾎﾝﾃﾝ", "1", "0000017", "ｶ)ﾁﾕｳﾌﾞﾃﾞﾝｷ", 9999999999),
    ("0033", "ﾗｸﾃﾝ", "251", "ｼﾞﾔｽﾞ", "1", "1002003", "ｻﾄｳ ｲﾁﾛｳ", 0),
]

# Every kind's items, as (name, start, length, type); the record is 120 bytes.
HEADER_ITEMS = [("区分", 1, 1, "E"), ("種別", 2, 2, "Z"), ("依頼人コード", 5, 10, "Z"), ("依頼人名", 15, 40, "E"),
                ("振込日", 55, 4, "Z"), ("銀行番号", 59, 4, "Z"), ("銀行名", 63, 15, "E"), ("支店番号", 78, 3, "Z"),
                ("支店名", 81, 15, "E"), ("預金種目", 96, 1, "Z"), ("口座番号", 97, 7, "Z")]
DATA_ITEMS = [("区分", 1, 1, "E"), ("銀行番号", 2, 4, "Z"), ("銀行名", 6, 15, "E"), ("支店番号", 21, 3, "Z"),
              ("支店名", 24, 15, "E"), ("預金種目", 43, 1, "Z"), ("口座番号", 44, 7, "Z"), ("受取人名", 51, 30, "E"),
              ("金額", 81, 10, "Z")]
TRAILER_ITEMS = [("区分", 1, 1, "E"), ("件数", 2, 6, "Z"), ("合計金額", 8, 12, "Z")]
END_ITEMS = [("区分", 1, 1, "E")]
CODES = ["種別", "依頼人コード", "振込日", "銀行番号", "支店番号", "口座番号"]  # DIGITS: codes keep their zeros


def transfer_records():
    code, name, date, bank, bank_name, branch, branch_name, kind, account = REQUESTER
    header = (host_sb("1", 1) + digits("21", 2) + host_sb("0", 1) + digits(code, 10) + host_sb(name, 40) +
              digits(date, 4) + digits(bank, 4) + host_sb(bank_name, 15) + digits(branch, 3) +
              host_sb(branch_name, 15) + digits(kind, 1) + digits(account, 7)).ljust(120, b"\x40")
    records = [header]
    for bank, bank_name, branch, branch_name, kind, account, payee, amount in TRANSFERS:
        records.append((host_sb("2", 1) + digits(bank, 4) + host_sb(bank_name, 15) + digits(branch, 3) +
                        host_sb(branch_name, 15) + b"\x40" * 4 + digits(kind, 1) + digits(account, 7) +
                        host_sb(payee, 30) + zoned(amount, 10)).ljust(120, b"\x40"))
    total = sum(t[7] for t in TRANSFERS)
    records.append((host_sb("8", 1) + zoned(len(TRANSFERS), 6) + zoned(total, 12)).ljust(120, b"\x40"))
    records.append(host_sb("9", 1).ljust(120, b"\x40"))
    assert all(len(r) == 120 for r in records)
    return b"".join(records)


def transfer_csv():
    code, name, date, bank, bank_name, branch, branch_name, kind, account = REQUESTER
    lines = [["1", "21", code, trim(name), date, bank, bank_name, branch, branch_name, kind, account]]
    for bank, bank_name, branch, branch_name, kind, account, payee, amount in TRANSFERS:
        lines.append(["2", bank, bank_name, branch, branch_name, kind, account, payee, str(amount)])
    lines.append(["8", str(len(TRANSFERS)), str(sum(t[7] for t in TRANSFERS))])
    lines.append(["9"])
    return "".join(",".join(line) + "\n" for line in lines).encode("cp932")


def transfer_format():
    lines = ["# 振込依頼データ: 120バイトのレコード、1バイト目が種別",
             "# (1 ヘッダ、2 データ、8 トレーラ、9 エンド)",
             "RECLEN=120", "CSV=TRIM"]
    for value, items in (("1", HEADER_ITEMS), ("2", DATA_ITEMS), ("8", TRAILER_ITEMS), ("9", END_ITEMS)):
        lines.append("KIND=1,1,%s" % value)
        lines += ["%s,%d,%d,%s,1" % item for item in items]
    lines += ["DIGITS=%s" % name for name in CODES]
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


# --- The order file (VB) ----------------------------------------------------

ORDERS = [  # order number, customer, (item code, quantity) lines
    ("A0000101", "ｵｵｻｶ ｼﾖｳﾃﾝ", [("P10001", 12), ("P10020", 3), ("P20005", 100)]),
    ("A0000102", "ｷﾖｳﾄ ｼﾖｳｶｲ", [("P10001", 1)]),
    ("A0000103", "ﾅｺﾞﾔ ﾌﾞﾂｻﾝ", [("P30001", 7), ("P30002", 7), ("P30003", 7), ("P30004", 7)]),
    ("A0000104", "ｻﾂﾎﾟﾛ ｼﾖｳｼﾞ", []),
    ("A0000105", "ﾌｸｵｶ ｺｳｷﾞﾖｳ", [("P99999", 9999), ("P00001", 1)]),
]
MAX_LINES = 4
HEAD = 30  # order number 8, customer 20, line count 2


def order_record(number, customer, lines):
    data = host_sb(number, 8) + host_sb(customer, 20) + zoned(len(lines), 2)
    for code, quantity in lines:
        data += host_sb(code, 6) + zoned(quantity, 4)
    return (len(data) + 4).to_bytes(2, "big") + b"\0\0" + data


def orders_bin():
    # Blocks of up to three records, each led by its BDW.
    out = b""
    for i in range(0, len(ORDERS), 3):
        block = b"".join(order_record(*o) for o in ORDERS[i:i + 3])
        out += (len(block) + 4).to_bytes(2, "big") + b"\0\0" + block
    return out


def orders_csv():
    out = []
    for number, customer, lines in ORDERS:
        fields = [number, trim(customer), str(len(lines))]
        for i in range(MAX_LINES):
            fields += [lines[i][0], str(lines[i][1])] if i < len(lines) else ["", ""]
        out.append(",".join(fields) + "\n")
    return "".join(out).encode("cp932")


def orders_format():
    lines = ["# 受注データ: 可変長レコード (RECFM=VB)、明細は最大4行",
             "# 明細のない位置は空の欄になる",
             "RECFM=VB", "RECLEN=%d" % (4 + HEAD + 10 * MAX_LINES), "CSV=TRIM",
             "受注番号,1,8,E,1", "顧客名,9,20,E,1", "明細数,29,2,Z,1"]
    for i in range(MAX_LINES):
        start = HEAD + 1 + 10 * i
        lines += ["商品%d,%d,6,E,1" % (i + 1, start), "数量%d,%d,4,Z,1" % (i + 1, start + 6)]
    return ("\r\n".join(lines) + "\r\n").encode("cp932")


if __name__ == "__main__":
    for path, data in ((os.path.join(HERE, "transfer.bin"), transfer_records()),
                       (os.path.join(HERE, "transfer.fmt"), transfer_format()),
                       (os.path.join(DATA, "transfer.csv"), transfer_csv()),
                       (os.path.join(HERE, "orders.bin"), orders_bin()),
                       (os.path.join(HERE, "orders.fmt"), orders_format()),
                       (os.path.join(DATA, "orders.csv"), orders_csv())):
        with open(path, "wb") as f:
            f.write(data)
