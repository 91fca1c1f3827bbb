#!/usr/bin/env python3
"""Every code of each host code table through rekmo with its HOSTCODE line
(every 2-byte code as an FN or KN item, every byte as an E item), against the
table's character (tools/host_tables/) in Python's cp932 codec and rekmo's
default text of the same code, by the rules of the README's HOSTCODE section;
and again with CSV=UTF8, against the table's own character in UTF-8.
"""
import argparse
import os
import subprocess
import sys
import tempfile
import unicodedata

GETA = b"\x81\xac"
PAGES = [("JEF", "FN", "jef", "ebcdik-jef"), ("KEIS78", "KN", "keis78", "ebcdik-keis"),
         ("KEIS83", "KN", "keis83", "ebcdik-keis")]


def read_table(source, name):
    table = {}
    with open(os.path.join(source, "tools", "host_tables", name + ".txt"), encoding="ascii") as f:
        for line in f:
            if line.startswith("#") or not line.strip():
                continue
            code, *points = line.split()
            text = "".join(chr(int(p, 16)) for p in points)
            if text != "\ufffd":
                table[int(code, 16)] = text
    return table


def cp932_char(data):
    """The one character `data` is in code page 932, or None."""
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError:
        return None
    return text if len(text) == 1 else None


def encoded(text, double):
    try:
        data = text.encode("cp932")
    except UnicodeEncodeError:
        return None
    printable = 0x20 <= data[0] <= 0x7E or 0xA1 <= data[0] <= 0xDF
    if len(data) == 1 and (not printable or double and data == b","):
        return None
    return None if 0xF0 <= data[0] <= 0xF9 else data  # user-defined: no character of its own


def compatibility_forms():
    forms = set()
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xFD)):
        for trail in range(0x40, 0xFD):
            char = cp932_char(bytes([lead, trail]))
            if char is not None and not 0xE000 <= ord(char) <= 0xF8FF:
                plain = unicodedata.normalize("NFKC", char)
                if plain != char and len(plain) == 1:
                    forms.add(plain)
    return forms


def run(rekmo, workdir, host_code, kind, width, codes, utf8=False):
    """rekmo's text of each code as a one-item record, under HOSTCODE=host_code ("" for none)."""
    paths = [os.path.join(workdir, name) for name in ("host.bin", "format.txt", "out.csv")]
    with open(paths[0], "wb") as f:
        f.write(b"".join(code.to_bytes(width, "big") for code in codes))
    with open(paths[1], "w") as f:
        f.write(("HOSTCODE=%s\n" % host_code if host_code else "") + ("CSV=UTF8\n" if utf8 else "") +
                "RECLEN=%d\nC,1,%d,%s,1\n" % (width, width, kind))
    subprocess.run([rekmo, paths[0], paths[2], paths[1]], check=True)
    with open(paths[2], "rb") as f:
        lines = f.read().split(b"\n")
    assert lines[-1] == b"" and len(lines) == len(codes) + 1, "one line per code"
    return dict(zip(codes, lines))


def convert(rekmo, workdir, host_code, kind, width):
    host = run(rekmo, workdir, host_code, kind, width, range(1 << (8 * width)))
    # The default texts of the A1A1-FEFE area: always two bytes, never a line end.
    standard = [a << 8 | b for a in range(0xA1, 0xFF) for b in range(0xA1, 0xFF)] if width == 2 else []
    return run(rekmo, workdir, "", kind, width, standard), [host[code] for code in sorted(host)]


def check(table, default, host, double, forms):
    failures = []
    counts = {"as the table": 0, "default": 0, "compatibility form": 0, "geta": 0, "space": 0}
    for code, out in enumerate(host):
        text = table.get(code)
        if not double and (text is None or unicodedata.category(text) == "Cc"):
            expected, kind = b" ", "space"
        elif text is None:
            expected, kind = GETA, "geta"
        elif encoded(text, double) is not None:
            expected, kind = encoded(text, double), "as the table"
        elif double and 0xA1 <= code >> 8 <= 0xFE and 0xA1 <= code & 0xFF <= 0xFE and \
                cp932_char(default[code]) is not None:
            expected, kind = default[code], "default"
        elif text in forms:
            char = cp932_char(out)
            expected, kind = out, "compatibility form"
            if char is None or unicodedata.normalize("NFKC", char) != text:
                expected = "a compatibility form of U+%04X" % ord(text)
        else:
            expected, kind = GETA, "geta"
        if out != expected:
            failures.append("%04X: %s, expected %s" % (code, out.hex(" "), expected))
        if double and (cp932_char(out) is None or any(b < 0x20 or b in (0x2C, 0x7F) for b in out)):
            failures.append("%04X: %s is no code page 932 character, or a control byte or a comma" % (code, out.hex(" ")))
        counts[kind] += 1
    return failures, counts


def check_utf8(table, host, double):
    """Under CSV=UTF8 every code is the table's own character; a code without
    one is 〓 (double-byte) or a space (single byte, as are control characters)."""
    failures = []
    counts = {"as the table": 0, "geta": 0, "space": 0}
    for code, out in enumerate(host):
        text = table.get(code)
        if not double and (text is None or unicodedata.category(text) == "Cc"):
            expected, kind = " ", "space"
        elif text is None:
            expected, kind = "\u3013", "geta"
        else:
            expected, kind = text, "as the table"
        if out != expected.encode("utf-8"):
            failures.append("%04X: %s, expected %s" % (code, out.hex(" "), expected.encode("utf-8").hex(" ")))
        counts[kind] += 1
    return failures, counts


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--rekmo", required=True)
    ap.add_argument("--source", required=True)
    args = ap.parse_args()
    forms = compatibility_forms()
    failed = False
    with tempfile.TemporaryDirectory() as workdir:
        for host_code, kind, double_name, single_name in PAGES:
            for name, item, width in ((double_name, kind, 2), (single_name, "E", 1)):
                table = read_table(args.source, name)
                default, host = convert(args.rekmo, workdir, host_code, item, width)
                failures, counts = check(table, default, host, width == 2, forms)
                print("HOSTCODE=%s %s (%s): %s" % (host_code, item, name,
                                                  ", ".join("%d %s" % (n, k) for k, n in counts.items() if n)))
                for line in failures[:20]:
                    print("  FAIL " + line)
                failed |= bool(failures)
                codes = range(1 << (8 * width))
                utf8 = run(args.rekmo, workdir, host_code, item, width, codes, utf8=True)
                failures, counts = check_utf8(table, [utf8[code] for code in codes], width == 2)
                print("HOSTCODE=%s CSV=UTF8 %s (%s): %s" % (host_code, item, name,
                                                           ", ".join("%d %s" % (n, k) for k, n in counts.items() if n)))
                for line in failures[:20]:
                    print("  FAIL " + line)
                failed |= bool(failures)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
