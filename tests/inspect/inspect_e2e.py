#!/usr/bin/env python3
"""End-to-end tests of rekmo-inspect: the built program run as a process on
crafted format and host files, its JSON report checked against the schema in
inspect/report.schema.json and its converted text against rekmo's own CSV.

    inspect_e2e.py --bin rekmo-inspect --rekmo rekmo --source SOURCE_DIR
"""

import argparse
import json
import os
import random
import re
import subprocess
import sys
import tempfile
import unittest

BIN = REKMO = SOURCE = None
SCHEMA = None

ESC_IN, ESC_OUT = b"\x1b\x24\x42", b"\x1b\x28\x4a"  # J: ESC $ B, ESC ( J


# --- A validator for the part of JSON Schema the report schema uses ---

TYPES = {"object": dict, "array": list, "string": str, "boolean": bool, "null": type(None)}


def _is_type(value, name):
    if name == "integer":
        return isinstance(value, int) and not isinstance(value, bool)
    return isinstance(value, TYPES[name])


def schema_errors(value, schema, root, path="$"):
    """Every way `value` breaks `schema`, as "path: reason" strings."""
    if "$ref" in schema:
        ref = schema["$ref"]
        assert ref.startswith("#/$defs/"), ref
        return schema_errors(value, root["$defs"][ref[len("#/$defs/"):]], root, path)
    errors = []
    if "type" in schema:
        names = schema["type"] if isinstance(schema["type"], list) else [schema["type"]]
        if not any(_is_type(value, n) for n in names):
            return ["%s: not of type %s" % (path, schema["type"])]
    if "enum" in schema and not any(value == e and type(value) is type(e) for e in schema["enum"]):
        errors.append("%s: %r not in %s" % (path, value, schema["enum"]))
    if "minimum" in schema and _is_type(value, "integer") and value < schema["minimum"]:
        errors.append("%s: %d below %d" % (path, value, schema["minimum"]))
    if "pattern" in schema and isinstance(value, str) and not re.search(schema["pattern"], value):
        errors.append("%s: %r does not match %s" % (path, value, schema["pattern"]))
    if isinstance(value, list):
        if "maxItems" in schema and len(value) > schema["maxItems"]:
            errors.append("%s: more than %d items" % (path, schema["maxItems"]))
        for i, v in enumerate(value):
            if "items" in schema:
                errors += schema_errors(v, schema["items"], root, "%s[%d]" % (path, i))
    if isinstance(value, dict):
        props = schema.get("properties", {})
        errors += ["%s: %s missing" % (path, k) for k in schema.get("required", []) if k not in value]
        for k, v in value.items():
            if "propertyNames" in schema:
                errors += schema_errors(k, schema["propertyNames"], root, "%s (name %s)" % (path, k))
            if k in props:
                errors += schema_errors(v, props[k], root, "%s.%s" % (path, k))
            elif schema.get("additionalProperties") is False:
                errors.append("%s: unexpected %s" % (path, k))
            elif isinstance(schema.get("additionalProperties"), dict):
                errors += schema_errors(v, schema["additionalProperties"], root, "%s.%s" % (path, k))
    return errors


# --- Running the programs ---

class Case(unittest.TestCase):
    def setUp(self):
        self._dir = tempfile.TemporaryDirectory(prefix="rekmo-inspect-")
        self.dir = self._dir.name

    def tearDown(self):
        self._dir.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, name)
        with open(path, "wb") as f:
            f.write(data.encode("cp932") if isinstance(data, str) else data)
        return path

    def run_tool(self, *args):
        r = subprocess.run([BIN, *args], capture_output=True, timeout=120)
        return r.returncode, r.stdout, r.stderr.decode("utf-8", "replace")

    def report(self, *args, status=0):
        """The --json report for these arguments, checked against the schema."""
        code, out, err = self.run_tool(*args, "--json")
        self.assertEqual(code, status, err)
        doc = json.loads(out.decode("utf-8"))
        self.assertEqual(schema_errors(doc, SCHEMA, SCHEMA), [])
        return doc

    def item_findings(self, kind, data, length=None):
        """The findings of the one item of a one-record file."""
        n = len(data) if length is None else length
        fmt = self.write("f.fmt", "RECLEN=%d\nX,1,%d,%s,1\n" % (len(data), n, kind))
        doc = self.report(fmt, self.write("h.bin", data), "--records", "1:1")
        items = doc["records"][0]["items"]
        self.assertEqual(len(items), 1)
        self.assertEqual(items[0]["hex"], (data + bytes(max(0, n - len(data)))).hex().upper())
        return items[0]["findings"]


def packed(digits, sign=0xC):
    nibbles = [int(d) for d in digits] + [sign]
    if len(nibbles) % 2:
        nibbles.insert(0, 0)
    return bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, len(nibbles), 2))


def zoned(digits, sign=0xF):
    data = bytes(0xF0 | int(d) for d in digits)
    return data[:-1] + bytes([sign << 4 | data[-1] & 0x0F])


# --- 1. Findings of single items ---

class ItemFindings(Case):
    CASES = [
        # (what, type, bytes, findings)
        ("clean E", "E", b"\xc1\xc2\xf1\x40", []),
        ("clean J", "J", b"A" + ESC_IN + b"\x30\x21" + ESC_OUT + b"B", []),
        ("clean J, ESC ( H", "J", ESC_IN + b"\x30\x21\x1b\x28\x48", []),
        ("clean J, zero padding", "J", b"AB\x00\x00", []),
        ("clean K", "K", b"\xc1\x0a\x42\xb0\xa1\x0a\x41\xc2", []),
        ("clean KN", "KN", b"\xb0\xa1\xa1\xa1", []),
        ("clean F", "F", b"\xc1\x28\xb0\xa1\x40\x40\x29", []),
        ("clean FN", "FN", b"\xb0\xa1\x40\x40", []),
        ("clean P", "P", packed("12345", 0xD), []),
        ("clean Z", "Z", zoned("123", 0xC), []),
        ("clean P, 16 digits below 2^53", "P", packed("9007199254740991"), []),
        ("clean P, 18 digits printed exactly", "P", packed("123456789012345600"), []),
        ("E comma", "E", b"\xc1\x6b\xc2", ["comma"]),
        ("J comma", "J", b"A,B", ["comma"]),
        ("J CR", "J", b"A\rB", ["cr"]),
        ("J LF", "J", b"A\nB", ["lf"]),
        ("J CR LF and comma", "J", b",\r\n", ["comma", "cr", "lf"]),
        ("J unclosed run", "J", b"A" + ESC_IN + b"\x30\x21", ["unclosed_run"]),
        ("K unclosed run", "K", b"\xc1\x0a\x42\xb0\xa1", ["unclosed_run"]),
        ("F unclosed run", "F", b"\xc1\x28\xb0\xa1", ["unclosed_run"]),
        ("J lone byte", "J", ESC_IN + b"\x30\x21\x30" + ESC_OUT, ["lone_byte"]),
        ("K lone byte", "K", b"\x0a\x42\xb0\xa1\xb0\x0a\x41", ["lone_byte"]),
        ("F lone byte", "F", b"\x28\xb0\xa1\xb0\x29", ["lone_byte"]),
        ("KN odd length", "KN", b"\xb0\xa1\xb0", ["lone_byte"]),
        ("FN odd length", "FN", b"\xb0\xa1\xb0", ["lone_byte"]),
        ("J zero byte before data", "J", b"A\x00B", ["zero_byte"]),
        ("J mapping to 00", "J", ESC_IN + b"\x30\x82" + ESC_OUT, ["mapping_zero", "unassigned"]),
        ("K mapping to 00", "K", b"\x0a\x42\xb0\x02\x0a\x41", ["mapping_zero", "unassigned"]),
        ("KN mapping to 00", "KN", b"\xb0\x02", ["mapping_zero", "unassigned"]),
        ("J ESC ( B in a run", "J", ESC_IN + b"\x30\x21\x30\x21\x1b\x28\x42\x21" + ESC_OUT, ["esc_b", "unassigned"]),
        ("J unassigned", "J", ESC_IN + b"\x2f\x21" + ESC_OUT, ["unassigned"]),
        ("K unassigned", "K", b"\x0a\x42\xaf\xa1\x0a\x41", ["unassigned"]),
        ("KN unassigned", "KN", b"\xaf\xa1", ["unassigned"]),
        ("F unassigned", "F", b"\x28\xaf\xa1\x29", ["unassigned"]),
        ("FN unassigned", "FN", b"\xaf\xa1", ["unassigned"]),
        ("P non-digit", "P", b"\x1a\x2c", ["non_digit"]),
        ("Z non-digit", "Z", b"\xf1\xfa\xc3", ["non_digit"]),
        ("P unusual sign", "P", packed("123", 0xA), ["unusual_sign"]),
        ("Z ASCII digits: unusual sign", "Z", b"123", ["unusual_sign"]),
        ("P 19 digits", "P", packed("1234567890123456789"), ["precision"]),
        ("Z 17 digits above 2^53", "Z", zoned("99999999999999999"), ["precision"]),
        ("P 16 digits above 2^53", "P", packed("9999999999999999"), ["precision"]),
    ]

    def test_findings(self):
        for what, kind, data, expected in self.CASES:
            with self.subTest(what):
                self.assertEqual(self.item_findings(kind, data), expected)

    def test_item_past_the_record_reads_zeros(self):
        # Item bytes past RECLEN are 00: a J item ends there, losing nothing.
        fmt = self.write("f.fmt", "RECLEN=4\nX,1,6,J,1\n")
        doc = self.report(fmt, self.write("h.bin", b"ABCD"), "--records", "1:1")
        item = doc["records"][0]["items"][0]
        self.assertEqual((item["hex"], item["text_hex"], item["findings"]), ("414243440000", "41424344", []))


# --- 2. Scans ---

def scan_file(records, length, marks):
    """`records` records of `length` bytes: an E item of length - 2 bytes and
    a 2-byte P item; marks[n] = (comma?, bad digit?) for record n (1-based)."""
    out = bytearray()
    for n in range(1, records + 1):
        comma, bad = marks.get(n, (False, False))
        text = bytes([0xF0 + (n + i) % 10 for i in range(length - 2)])
        if comma:
            text = text[:-1] + b"\x6b"
        out += text + (b"\x1a\x2c" if bad else b"\x12\x3c")
    return bytes(out)


def expected_scan(records, marks):
    items = []
    for item, which in ((1, 0), (2, 1)):
        hits = sorted(n for n, m in marks.items() if m[which])
        name = ("comma", "non_digit")[which]
        items.append({"item": item, "findings": {name: {"records": len(hits), "first": hits[:5]}} if hits else {}})
    return {"records": records, "items": items}


class Scans(Case):
    def test_counts_and_first_records(self):
        marks = {n: (True, False) for n in (1000, 999, 777, 400, 51, 50, 3)}
        marks[2] = (False, True)
        marks[3] = (True, True)
        fmt = self.write("f.fmt", "RECLEN=8\nA,1,6,E,1\nB,7,2,P,1\n")
        host = self.write("h.bin", scan_file(1000, 8, marks))
        doc = self.report(fmt, host, "--scan", "--threads", "2")
        self.assertEqual(doc["scan"], expected_scan(1000, marks))
        self.assertEqual(doc["scan"]["items"][0]["findings"]["comma"]["first"], [3, 50, 51, 400, 777])
        self.assertTrue(doc["findings"])
        self.assertEqual([r["number"] for r in doc["records"]], [1, 2, 3, 4, 5])

    def test_threads_agree_across_chunks(self):
        # 7 MB: several 1 MiB chunks shared out among the threads.
        rng = random.Random(7)
        records = 70000
        marks = {n: (rng.random() < 0.002, rng.random() < 0.001) for n in range(1, records + 1)}
        marks = {n: m for n, m in marks.items() if any(m)}
        marks[records] = (True, True)
        fmt = self.write("f.fmt", "RECLEN=100\nA,1,98,E,1\nB,99,2,P,1\n")
        host = self.write("h.bin", scan_file(records, 100, marks))
        scans = [self.report(fmt, host, "--scan", "--threads", t)["scan"] for t in ("1", "4", "7")]
        self.assertEqual(scans[0], expected_scan(records, marks))
        self.assertEqual(scans[1], scans[0])
        self.assertEqual(scans[2], scans[0])

    def test_clean_file_has_no_scan_findings(self):
        fmt = self.write("f.fmt", "RECLEN=8\nA,1,6,E,1\nB,7,2,P,1\n")
        code, out, err = self.run_tool(fmt, self.write("h.bin", scan_file(100, 8, {})), "--scan", "--strict")
        self.assertEqual(code, 0, err)
        self.assertIn(b"no findings in any item", out)


# --- 3. The text is rekmo's ---

def random_item(rng, kind, n):
    """Item bytes of a type, mostly well-formed, sometimes not."""
    pick = lambda *xs: xs[rng.randrange(len(xs))]
    jis = lambda: bytes([rng.randint(0x21, 0x7E), rng.randint(0x21, 0x7E)])
    host = lambda: bytes([pick(0x40, 0x4B, 0xC1, 0xC5, 0xD4, 0xE8, 0xF0, 0xF9, 0x81, 0x5B, rng.randrange(256))])
    if kind in "PZ":  # digits, sometimes leading zeros, a sign, now and then a bad half-byte
        half = lambda: rng.randrange(10) if rng.random() < 0.97 else rng.randrange(16)
        zone = lambda: 0xF if rng.random() < 0.95 else rng.randrange(16)
        data = bytearray(half() << 4 | half() if kind == "P" else zone() << 4 | half() for _ in range(n))
        k = rng.randrange(n)
        data[:k] = bytes(k) if kind == "P" else b"\xf0" * k
        sign = rng.choice([0xC, 0xD, 0xF, 0xC, 0xD, 0xF, 0xA, 0x3])
        data[-1] = data[-1] & 0xF0 | sign if kind == "P" else sign << 4 | data[-1] & 0x0F
        return bytes(data)
    tokens = []
    while sum(map(len, tokens)) < n:
        if kind == "J":
            tokens.append(pick(b"A", b"1", b" ", ESC_IN, ESC_OUT, b"\x1b(H", b"\x1b(B", jis(), jis(), b"\x00" if rng.random() < 0.1 else b"B",
                               bytes([rng.randrange(256)])))
        elif kind in ("K", "KN"):
            tokens.append(pick(b"\x0a\x42", b"\x0a\x41", bytes(b | 0x80 for b in jis()), bytes(b | 0x80 for b in jis()),
                               host(), b"\xb0\x02") if kind == "K" else pick(bytes(b | 0x80 for b in jis()), b"\xa1\xa1",
                                                                               bytes([rng.randrange(256)])))
        else:
            tokens.append(pick(b"\x28", b"\x29", bytes(b | 0x80 for b in jis()), b"\x40\x40", host())
                          if kind == "F" else pick(bytes(b | 0x80 for b in jis()), b"\x40\x40", bytes([rng.randrange(256)])))
    return b"".join(tokens)[:n]


class SameTextAsRekmo(Case):
    def check(self, fmt, host, records):
        out = os.path.join(self.dir, "out.csv")
        r = subprocess.run([REKMO, host, out, fmt], capture_output=True, timeout=120)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(out, "rb") as f:
            lines = f.read().split(b"\n")
        self.assertEqual(lines.pop(), b"")
        self.assertEqual(len(lines), records)
        doc = self.report(fmt, host, "--records", "1:%d" % records)
        self.assertEqual([r["number"] for r in doc["records"]], list(range(1, records + 1)))
        for record, line in zip(doc["records"], lines):
            with self.subTest(record=record["number"]):
                self.assertEqual([bytes.fromhex(i["text_hex"]) for i in record["items"]], line.split(b","))

    def test_example(self):
        self.check(os.path.join(SOURCE, "examples", "customers.fmt"), os.path.join(SOURCE, "examples", "customers.bin"), 4)

    def test_every_type_with_odd_data(self):
        # Random items of every type; records whose text would split the CSV
        # line are left out, as the tool reports them.
        rng = random.Random(932)
        kinds = [("E", 7), ("J", 24), ("K", 20), ("KN", 9), ("F", 18), ("FN", 10), ("P", 10), ("Z", 19), ("J", 6)]
        layout, pos = ["RECLEN=%d" % (sum(n for _, n in kinds) + 3)], 1
        for i, (kind, n) in enumerate(kinds):
            layout.append("I%d,%d,%d,%s,%d" % (i, pos, n, kind, 1))
            pos += n
        layout.append("SPARE,%d,3,E,0" % pos)
        fmt = self.write("f.fmt", "\n".join(layout) + "\n")
        candidates = [b"".join(random_item(rng, k, n) for k, n in kinds) + b"\x6b\x25\x0d" for _ in range(400)]
        doc = self.report(self.write("all.fmt", "\n".join(layout) + "\n"), self.write("all.bin", b"".join(candidates)),
                          "--records", "1:400")
        splits = {"comma", "cr", "lf"}
        kept = [candidates[r["number"] - 1] for r in doc["records"]
                if not any(splits & set(i["findings"]) for i in r["items"])]
        self.assertGreater(len(kept), 100)
        seen = {f for r in doc["records"] for i in r["items"] for f in i["findings"]}
        self.assertGreaterEqual(len(seen), 9, seen)  # the random data reaches most findings
        self.check(fmt, self.write("h.bin", b"".join(kept)), len(kept))


# --- 4. Layouts ---

class Layouts(Case):
    def test_overlap_gap_past_record_odd_length(self):
        fmt = self.write("f.fmt", "A,1,4,E,1\nB,3,4,E,1\nC,9,3,KN,1\nD,11,5,E,1\nRECLEN=12\n")
        doc = self.report(fmt)
        self.assertTrue(doc["format"]["accepted"])
        self.assertIsNone(doc["format"]["message"])
        got = sorted((f["kind"], f.get("item"), f.get("other_item"), f.get("first"), f.get("last"))
                     for f in doc["format"]["findings"])
        self.assertEqual(got, [("gap", None, None, 7, 8), ("odd_length", 3, None, 11, 11),
                               ("overlap", 2, 1, 3, 4), ("overlap", 4, 3, 11, 11), ("past_record", 4, None, 13, 15)])
        self.assertEqual(self.run_tool(fmt)[0], 0)
        self.assertEqual(self.run_tool(fmt, "--strict")[0], 1)

    def test_every_refused_item_is_listed(self):
        fmt = self.write("f.fmt", "OK,1,2,E,1\nA,1,0,E,1\nB,1,2,X,1\nC,0,2,E,1\nD,1,151,P,1\nE,1,301,Z,1\n"
                                  "F,16777216,2,E,1\nG,3,2,P,1\n")
        host = self.write("h.bin", b"\x40" * 40)
        doc = self.report(fmt, host, status=1)
        refused = [(f["item"], f["fault"]) for f in doc["format"]["findings"] if f["kind"] == "refused"]
        expected = [(2, "size"), (3, "type"), (4, "position"), (5, "size"), (6, "size"), (7, "position")]
        self.assertEqual(refused, expected)
        self.assertEqual([i["refused"] for i in doc["format"]["items"]],
                         [None, "size", "type", "position", "size", "size", "position", None])
        self.assertFalse(doc["format"]["accepted"])
        self.assertTrue(doc["findings"])
        self.assertEqual(doc["records"], [])  # no records cut with a layout rekmo refuses
        self.assertEqual(doc["host"]["size"], 40)
        # rekmo stops at the first fault and says so: the same message.
        r = subprocess.run([REKMO, host, os.path.join(self.dir, "o.csv"), fmt], capture_output=True, timeout=60,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
        self.assertNotEqual(r.returncode, 0)
        self.assertTrue(doc["format"]["message"])
        self.assertEqual(doc["format"]["message"].strip(), r.stderr.decode("utf-8").strip())
        self.assertIn("2", doc["format"]["message"])

    def test_record_length_source(self):
        for text, length, source in [("RECLEN=30\nA,1,4,E,1\nB,5,6,E,1\n", 30, "RECLEN"),
                                     ("A,1,4,E,1\nB,5,6,E,1\n", 10, "largest_end"),
                                     ("A,1,4,E,1\nB,3,9,E,1\nC,5,2,E,1\n", 11, "largest_end"),
                                     ("RECLEN=0\nA,1,4,E,1\n", 4, "largest_end"),
                                     ("RECLEN=9\nA,1,4,E,1\nRECLEN=6\n", 6, "RECLEN")]:
            with self.subTest(text):
                fmt = self.report(self.write("f.fmt", text))["format"]
                self.assertEqual((fmt["record_length"], fmt["record_length_source"]), (length, source))

    def test_names_in_json(self):
        fmt = self.write("f.fmt", 'A"\\\tB,1,2,E,1\n顧客,3,2,E,1\n')
        self.assertEqual([i["name"] for i in self.report(fmt)["format"]["items"]], ['A"\\\\\\tB', "顧客"])


# --- 5. Host files ---

class HostFiles(Case):
    def host(self, reclen, data):
        fmt = self.write("f.fmt", "RECLEN=%d\nA,1,%d,E,1\n" % (reclen, reclen))
        return self.report(fmt, self.write("h.bin", data))["host"]

    def test_size(self):
        for size, records, remainder in [(30, 3, 0), (31, 3, 1), (9, 0, 9), (0, 0, 0)]:
            with self.subTest(size=size):
                host = self.host(10, b"\xc1" * size)
                self.assertEqual((host["size"], host["records"], host["remainder"], host["divides"]),
                                 (size, records, remainder, remainder == 0))
                if remainder == 0:
                    self.assertEqual((host["suggested_record_lengths"], host["damage"]), ([], []))

    def test_suggested_lengths(self):
        self.assertEqual(self.host(10, b"\xc1" * (11 * 97))["suggested_record_lengths"], [11])
        self.assertEqual(self.host(12, b"\xc1" * (11 * 97))["suggested_record_lengths"], [11])
        # 504: 9 8 12 7 6 14 18 between 5 and 20; nearest 10 first, at most 5.
        self.assertEqual(self.host(10, b"\xc1" * 504)["suggested_record_lengths"], [9, 8, 12, 7, 6])
        self.assertEqual(self.host(100, b"\xc1" * 1009)["suggested_record_lengths"], [])

    def test_damage(self):
        record = bytes(range(0xC1, 0xC9)) * 2 + b"\xf1\xf2\xf3\xf4"
        for what, data, needle in [("CR LF after each record", (record + b"\r\n") * 7, "CR LF (0D 0A) ends every 22 bytes"),
                                   ("LF after each record", (record + b"\n") * 7, "LF (0A) ends every 21 bytes"),
                                   ("end-of-file mark", record * 3 + b"\x1a", "are 1A (1A: an end-of-file mark)"),
                                   ("two bytes left", record * 3 + b"\x40\xab", "2 bytes after the last whole record are 40 AB"),
                                   ("ASCII text", b"HELLO WORLD 12345 " * 8, "look like ASCII")]:
            with self.subTest(what):
                host = self.host(20, data)
                self.assertFalse(host["divides"])
                self.assertTrue(any(needle in s for s in host["damage"]), host["damage"])
        self.assertEqual(self.host(20, record * 8)["damage"], [])
        # A line end inside the layout's own record is no sign of damage.
        self.assertEqual(self.host(22, (record + b"\r\n") * 7)["damage"], [])


# --- 6. Exit statuses and messages ---

class ExitStatus(Case):
    def test_statuses(self):
        fmt = self.write("f.fmt", "RECLEN=4\nA,1,4,E,1\n")
        clean = self.write("clean.bin", b"\xc1\xc2\xc3\xc4")
        comma = self.write("comma.bin", b"\xc1\x6b\xc3\xc4")
        refused = self.write("bad.fmt", "A,1,4,Q,1\n")
        missing = os.path.join(self.dir, "none")
        for args, status, message in [
                ((), 2, "no FormatFile given"),
                ((fmt, "--bogus"), 2, "unknown option --bogus"),
                ((fmt, clean, "--records", "0"), 2, "--records wants FIRST[:COUNT]"),
                ((fmt, clean, "--records", "1:x"), 2, "--records wants FIRST[:COUNT]"),
                ((fmt, clean, "--records"), 2, "option --records needs a value"),
                ((fmt, clean, "--threads", "0"), 2, "--threads wants a number"),
                ((fmt, clean, "--threads", "999"), 2, "--threads wants a number"),
                ((fmt, clean, "--json=1"), 2, "option --json takes no value"),
                ((fmt, "--records", "1:2"), 2, "--records, --scan and --threads need a HostFile"),
                ((fmt, "--scan"), 2, "--records, --scan and --threads need a HostFile"),
                ((fmt, clean, clean), 2, "too many operands"),
                ((missing,), 2, "cannot read the format file"),
                ((fmt, missing), 2, "cannot open the host file"),
                ((fmt, self.dir), 2, "cannot open the host file"),
                ((refused,), 1, ""),
                ((fmt, clean, "--strict", "--scan"), 0, ""),
                ((fmt, comma), 0, ""),
                ((fmt, comma, "--strict"), 1, ""),
                ((fmt, comma, "--records=1:1", "--threads=3", "--scan"), 0, ""),
                ((fmt, self.write("short.bin", b"\xc1"), "--strict"), 1, "")]:
            with self.subTest(args=args):
                code, out, err = self.run_tool(*args)
                self.assertEqual(code, status, err)
                if message:
                    self.assertIn("rekmo-inspect: " + message, err)
                else:
                    self.assertEqual(err, "")
                    self.assertTrue(out)

    def test_help_and_version(self):
        with open(os.path.join(SOURCE, "CMakeLists.txt"), encoding="utf-8") as f:
            version = re.search(r"project\([^)]*VERSION\s+(\d+\.\d+\.\d+)", f.read()).group(1)
        self.assertEqual(self.run_tool("--version"), (0, ("rekmo-inspect %s\n" % version).encode(), ""))
        code, out, err = self.run_tool("--help")
        self.assertEqual((code, err), (0, ""))
        self.assertIn(b"--records FIRST[:COUNT]", out)
        self.assertEqual(self.report(self.write("f.fmt", "A,1,1,E,1\n"))["version"], version)


# --- 7. The schema validator itself ---

class Validator(Case):
    def test_rejects_broken_reports(self):
        fmt = self.write("f.fmt", "RECLEN=8\nA,1,6,E,1\nB,7,2,P,1\n")
        marks = {n: (True, False) for n in range(1, 8)}
        good = self.report(fmt, self.write("h.bin", scan_file(10, 8, marks)), "--scan")
        breakages = [
            ("no tool", lambda d: d.pop("tool")),
            ("extra key", lambda d: d.update(extra=1)),
            ("boolean as integer", lambda d: d["host"].update(size=True)),
            ("lower-case hex", lambda d: d["records"][0]["items"][0].update(hex="c1")),
            ("unknown finding", lambda d: d["records"][0]["items"][0]["findings"].append("commas")),
            ("unknown scan finding", lambda d: d["scan"]["items"][0]["findings"].update(bogus={"records": 1, "first": [1]})),
            ("six first records", lambda d: d["scan"]["items"][0]["findings"]["comma"]["first"].append(9)),
            ("record 0", lambda d: d["records"][0].update(number=0)),
            ("host not object", lambda d: d.update(host=[])),
        ]
        for what, breakage in breakages:
            with self.subTest(what):
                doc = json.loads(json.dumps(good))
                breakage(doc)
                self.assertNotEqual(schema_errors(doc, SCHEMA, SCHEMA), [])


# --- 8. Tables ---

class TextReport(Case):
    def test_example_tables(self):
        code, out, err = self.run_tool(os.path.join(SOURCE, "examples", "customers.fmt"),
                                       os.path.join(SOURCE, "examples", "customers.bin"), "--records", "2:2")
        self.assertEqual((code, err), (0, ""))
        text = out.decode("utf-8")
        for name in ["顧客番号", "カナ氏名", "漢字氏名", "住所", "会社名", "部署", "メモ", "残高", "取引開始日", "予備"]:
            self.assertIn(name, text)
        for shown in ["Record 2", "Record 3", '"C0001002"', "鈴木　花子", "請求書送付先変更", '"-38200"', "880 bytes: 4 records"]:
            self.assertIn(shown, text)
        self.assertNotIn("Record 1\n", text)
        self.assertNotIn("Record 4", text)


# --- Faults found in the tool, kept fixed ---

class Overflows(Case):
    def test_huge_record_count_shows_every_record(self):
        fmt = self.write("f.fmt", "RECLEN=2\nA,1,2,E,1\n")
        doc = self.report(fmt, self.write("h.bin", b"\xc1\xc2" * 3), "--records", "2:18446744073709551615")
        self.assertEqual([r["number"] for r in doc["records"]], [2, 3])

    def test_report_is_utf8_for_any_path(self):
        doc = self.report(self.write(b"\xff.fmt".decode("utf-8", "surrogateescape"), "A,1,2,E,1\n"))
        self.assertTrue(doc["format"]["path"].endswith("\\xFF.fmt"), doc["format"]["path"])


def main():
    global BIN, REKMO, SOURCE, SCHEMA
    parser = argparse.ArgumentParser()
    parser.add_argument("--bin", required=True)
    parser.add_argument("--rekmo", required=True)
    parser.add_argument("--source", required=True)
    args, rest = parser.parse_known_args()
    BIN, REKMO, SOURCE = args.bin, args.rekmo, args.source
    with open(os.path.join(SOURCE, "inspect", "report.schema.json"), encoding="utf-8") as f:
        SCHEMA = json.load(f)
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)


if __name__ == "__main__":
    main()
