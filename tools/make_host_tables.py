#!/usr/bin/env python3
"""Writes codec/host_tables.cpp: what each host code becomes under HOSTCODE=,
from the host code tables in tools/host_tables/ and Python's cp932 codec; and
codec/host_tables_utf8.cpp: the same codes as the tables' own characters, in
UTF-8, for CSV=UTF8.

    python3 tools/make_host_tables.py              # write the source
    python3 tools/make_host_tables.py --check      # fail unless it is current
    python3 tools/make_host_tables.py --import DIR # refresh tools/host_tables/
                                                   # from the JSON tables in DIR

The tables come from the public repository hidekatsu-izuno/jef4j (Apache
License 2.0, see THIRD_PARTY.md). --import reads its JSON as a decoder does
(entries marked encode_only are skipped; of two entries for one code the first,
plain one wins) and keeps one line per code: the code and its code points.

Every code becomes code page 932 text by these rules:
  1. the table's character, when code page 932 encodes it (Python's cp932
     codec, the codec the rest of Rekmo is checked against) as a printable
     single byte or a double-byte character outside the user-defined area;
  2. else, for a double-byte code inside A1A1-FEFE, the default result when
     that is a code page 932 character: the same JIS code in the 1983
     ordering holds the character's later form (JEF B0A1 area: 啞 gives 唖);
  3. else the character's compatibility form when code page 932 has one
     (£ gives ￡, ¦ gives ￤);
  4. else 〓 (81 AC), the mark for a character that cannot be shown.
A code the table does not define, or defines as unmappable (FFFD), gives 〓
as a double-byte code; as a single byte it gives a space, and so do the
control characters, as in the default table. In UTF-8 every other code is
the table's character itself, none of the rules above needed.
"""
import argparse
import json
import pathlib
import sys
import unicodedata

ROOT = pathlib.Path(__file__).resolve().parent.parent
DATA = ROOT / "tools" / "host_tables"
OUT = ROOT / "codec" / "host_tables.cpp"
OUT_UTF8 = ROOT / "codec" / "host_tables_utf8.cpp"
GETA = 0x81AC  # 〓
SPACE = 0x20

DOUBLE_TABLES = ["jef", "keis78", "keis83"]
SINGLE_TABLES = ["ebcdik-jef", "ebcdik-keis"]


def read_json(path):
    codes = {}
    for entry in json.loads(path.read_text(encoding="utf-8")):
        if "encode_only" in entry.get("options", []):
            continue
        code = int(entry["code"], 16)
        if code not in codes:
            codes[code] = entry["unicode"].upper()
    return codes


def import_tables(source):
    for name in DOUBLE_TABLES + SINGLE_TABLES:
        codes = read_json(pathlib.Path(source) / f"{name}.json")
        width = 2 if name in SINGLE_TABLES else 4
        lines = [f"# {name}: code, then its code points (FFFD: no character). Made by",
                 "# tools/make_host_tables.py --import from hidekatsu-izuno/jef4j",
                 "# (commit 0e4e9fd7320e0b2098451c5d246fa46b7e2dce4b), Apache License 2.0."]
        lines += [f"{code:0{width}X} {codes[code]}" for code in sorted(codes)]
        (DATA / f"{name}.txt").write_text("\n".join(lines) + "\n", encoding="ascii", newline="\n")


def read_table(name):
    table = {}
    for line in (DATA / f"{name}.txt").read_text(encoding="ascii").splitlines():
        if line.startswith("#") or not line.strip():
            continue
        code, *points = line.split()
        table[int(code, 16)] = "".join(chr(int(p, 16)) for p in points)
    return table


def printable_byte(b, comma):
    return (0x20 <= b <= 0x7E and (comma or b != 0x2C)) or 0xA1 <= b <= 0xDF


def sjis_char(data, comma=False):
    """data as one code page 932 character (int), or None. A double-byte code
    never gives a comma; single-byte text keeps its commas (host 6B)."""
    if len(data) == 1:
        return data[0] if printable_byte(data[0], comma) else None
    if len(data) != 2 or 0xF0 <= data[0] <= 0xF9:
        return None
    try:
        text = data.decode("cp932")
    except UnicodeDecodeError:
        return None
    return data[0] << 8 | data[1] if len(text) == 1 else None


def encode(text, comma=False):
    try:
        return sjis_char(text.encode("cp932"), comma)
    except UnicodeEncodeError:
        return None


def compatibility_forms():
    """Character -> the code page 932 character whose compatibility
    decomposition it is (£ -> ￡; of several, the first in code order)."""
    forms = {}
    for lead in list(range(0x81, 0xA0)) + list(range(0xE0, 0xF0)) + list(range(0xFA, 0xFD)):
        for trail in range(0x40, 0xFD):
            code = sjis_char(bytes([lead, trail]))
            if code is None:
                continue
            char = bytes([lead, trail]).decode("cp932")
            plain = unicodedata.normalize("NFKC", char)
            if plain != char and len(plain) == 1:
                forms.setdefault(plain, encode(char))  # the codec's own code for it (FA55 for ￤, not EEFA)
    return forms


def default_sjis(a, b):
    """The default decoders' text for a host code of the A1A1-FEFE area."""
    j1, j2 = a - 0x80, b - 0x80
    lead = (j1 - 0x21) // 2 + 0x81
    if lead >= 0xA0:
        lead += 0x40
    trail = j2 + (0x1F if j1 & 1 else 0x7D)
    if trail >= 0x7F:
        trail += 1
    return bytes([lead, trail])


def convert(text, forms, default=None, comma=False):
    if text is None or text == "\uFFFD":
        return None
    code = encode(text, comma)
    if code is None and default is not None:
        code = sjis_char(default)
    if code is None and text in forms:
        code = forms[text]
    return GETA if code is None else code


def double_byte(table, forms):
    result = {}
    for code, text in table.items():
        a, b = code >> 8, code & 0xFF
        standard = 0xA1 <= a <= 0xFE and 0xA1 <= b <= 0xFE
        converted = convert(text, forms, default_sjis(a, b) if standard else None)
        result[code] = GETA if converted is None else converted
    return result


def single_byte(table, forms):
    result = [SPACE] * 256
    for byte, text in table.items():
        if len(text) == 1 and unicodedata.category(text) == "Cc":
            continue
        converted = convert(text, forms, comma=True)
        result[byte] = SPACE if converted is None else converted
    return result


def sjis_text(code):
    """What code page 932 reads in a Shift_JIS code of one or two bytes."""
    return (bytes([code]) if code < 0x100 else code.to_bytes(2, "big")).decode("cp932", "replace")


def entry(code):
    """A text as the decoders store it: first byte low, second (or 0) high."""
    return code if code < 0x100 else (code & 0xFF) << 8 | code >> 8


def bitset(codes, size):
    words = [0] * (size // 64)
    for code in codes:
        words[code // 64] |= 1 << (code % 64)
    return words


def cells(values, per_line, fmt):
    out = []
    for start in range(0, len(values), per_line):
        out.append("    " + " ".join(fmt(v) + "," for v in values[start:start + per_line]))
    return out


def generate():
    forms = compatibility_forms()
    doubles = {name: double_byte(read_table(name), forms) for name in DOUBLE_TABLES}
    singles = {name: single_byte(read_table(name), forms) for name in SINGLE_TABLES}
    lines = [
        "// Generated by tools/make_host_tables.py from tools/host_tables/ (host code",
        "// tables of hidekatsu-izuno/jef4j, Apache License 2.0: see THIRD_PARTY.md).",
        "// Do not edit by hand: change the script or the data and run it again.",
        "//",
        "// Each text is stored with its first byte in the low half and its second",
        "// byte (0 for a single-byte text) in the high half.",
        '#include "codec/host_code.hpp"',
        "",
        "namespace rekmo {",
        "namespace {",
        "",
        f"constexpr std::uint16_t G = 0x{entry(GETA):04X};  // 81 AC, the mark for a character that cannot be shown",
        "",
        "// clang-format off",
        "constexpr std::uint16_t UNDEFINED_ROW[256] = {",
    ]
    lines += cells(["G"] * 256, 32, str)
    lines.append("};")
    for name, result in doubles.items():
        ident = name.upper()
        leads = sorted({code >> 8 for code in result})
        for lead in leads:
            row = [result.get(lead << 8 | trail) for trail in range(256)]
            lines.append("")
            lines.append(f"constexpr std::uint16_t {ident}_{lead:02X}[256] = {{")
            lines += cells(row, 16, lambda v: "G" if v is None or v == GETA else f"0x{entry(v):04X}")
            lines.append("};")
        lines.append("")
        lines.append(f"constexpr HostDoubleByte {ident}_PAIRS = {{{{")
        rows = [f"{ident}_{lead:02X}" if lead in leads else "UNDEFINED_ROW" for lead in range(256)]
        lines += cells(rows, 8, str)
        lines.append("}};")
        lines.append(f"alignas(32) constexpr HostPairTable {ident}_TABLE = host_pair_table({ident}_PAIRS);")
    for name, result in singles.items():
        ident = name.upper().replace("-", "_")
        lines.append("")
        lines.append(f"constexpr HostSingleByte {ident} = make_host_single(")
        lines.append("    {{")
        lines += ["    " + l for l in cells([v if v < 0x100 else 0 for v in result], 16, lambda v: f"0x{v:02X}")]
        lines.append("    }},")
        lines.append("    {{")
        lines += ["    " + l for l in cells([entry(v) for v in result], 16, lambda v: f"0x{v:04X}")]
        lines.append("    }});")
    # The codes whose table character the Shift_JIS text does not hold exactly
    # (a default result, a compatibility form or 〓 for a real character):
    # what CSV=UTF8 would write as itself.
    for name in DOUBLE_TABLES:
        table = read_table(name)
        codes = sorted(c for c, t in table.items() if t != "\uFFFD" and sjis_text(doubles[name][c]) != t)
        lines.append(f"// {len(codes)} codes")
        lines.append(f"constexpr std::uint64_t LOST_{name.upper()}[1024] = {{")
        lines += cells(bitset(codes, 65536), 4, lambda w: f"0x{w:016X}")
        lines.append("};")
        lines.append("")
    for name in SINGLE_TABLES:
        table = read_table(name)
        codes = sorted(b for b, t in table.items()
                       if t != "\uFFFD" and unicodedata.category(t[0]) != "Cc" and sjis_text(singles[name][b]) != t)
        lines.append(f"// {len(codes)} bytes")
        lines.append(f"constexpr std::uint64_t LOST_{name.upper().replace('-', '_')}[4] = {{")
        lines += cells(bitset(codes, 256), 4, lambda w: f"0x{w:016X}")
        lines.append("};")
        lines.append("")
    lines += ["// clang-format on", "", "}  // namespace", ""]
    lines += [
        "const HostCodePage HOST_PAGE_JEF = {EBCDIK_JEF, JEF_PAIRS, JEF_TABLE, LOST_JEF, LOST_EBCDIK_JEF, JEF_USER_DEFINED};",
        "const HostCodePage HOST_PAGE_KEIS78 = {EBCDIK_KEIS, KEIS78_PAIRS, KEIS78_TABLE, LOST_KEIS78, LOST_EBCDIK_KEIS,",
        "                                        KEIS_USER_DEFINED};",
        "const HostCodePage HOST_PAGE_KEIS83 = {EBCDIK_KEIS, KEIS83_PAIRS, KEIS83_TABLE, LOST_KEIS83, LOST_EBCDIK_KEIS,",
        "                                        KEIS_USER_DEFINED};",
        "",
    ]
    # What the default decoders' reports look for.
    jef, keis78 = doubles["jef"], doubles["keis78"]
    jef_table, ebcdik = read_table("jef"), [read_table(n) for n in SINGLE_TABLES]

    def differs(result):
        return sorted(c for c, v in result.items()
                      if 0xA1 <= c >> 8 <= 0xFE and 0xA1 <= c & 0xFF <= 0xFE
                      and v != sjis_char(default_sjis(c >> 8, c & 0xFF)))

    from_default = {
        "ORDERING_1978_JEF": differs(jef),
        "ORDERING_1978_KEIS": differs(keis78),
        "JEF_EXTENDED": sorted(c for c, t in jef_table.items() if 0x41 <= c >> 8 <= 0x7F and t != "\uFFFD"),
    }
    host_space = sorted(b for b in range(256)
                        if DEFAULT_SPACES[b] and all(singles[n][b] != SPACE for n in SINGLE_TABLES)
                        and all(b in t for t in ebcdik))
    for ident, codes in from_default.items():
        lines.append(f"// {len(codes)} codes")
        lines.append(f"const std::uint64_t {ident}[1024] = {{")
        lines += cells(bitset(codes, 65536), 4, lambda w: f"0x{w:016X}")
        lines.append("};")
        lines.append("")
    lines.append(f"// {len(host_space)} bytes")
    lines.append("const std::uint64_t HOST_SPACE_BYTES[4] = {")
    lines += cells(bitset(host_space, 256), 4, lambda w: f"0x{w:016X}")
    lines.append("};")
    lines += ["", "}  // namespace rekmo", ""]
    return "\n".join(lines)


def utf8_entry(text):
    """A text in UTF-8 as the decoders store it: its 1 to 4 bytes, the first
    in the low byte."""
    data = text.encode("utf-8")
    assert 1 <= len(data) <= 4, text
    return int.from_bytes(data, "little")


def utf8_double(table):
    return {code: utf8_entry("\u3013" if text == "\uFFFD" else text) for code, text in table.items()}


def utf8_single(table):
    result = [utf8_entry(" ")] * 256
    for byte, text in table.items():
        if text != "\uFFFD" and not (len(text) == 1 and unicodedata.category(text) == "Cc"):
            result[byte] = utf8_entry(text)
    return result


def generate_utf8():
    geta = utf8_entry("\u3013")
    lines = [
        "// Generated by tools/make_host_tables.py from tools/host_tables/ (host code",
        "// tables of hidekatsu-izuno/jef4j, Apache License 2.0: see THIRD_PARTY.md).",
        "// Do not edit by hand: change the script or the data and run it again.",
        "//",
        "// Each code's character in UTF-8, its first byte in the low byte.",
        '#include "codec/host_code.hpp"',
        "",
        "namespace rekmo {",
        "namespace {",
        "",
        f"constexpr HostUtf8 G = 0x{geta:08X};  // 〓, for a code without a character",
        "",
        "// clang-format off",
        "constexpr HostUtf8 UNDEFINED_ROW[256] = {",
    ]
    lines += cells(["G"] * 256, 32, str)
    lines.append("};")
    for name in DOUBLE_TABLES:
        ident = name.upper()
        result = utf8_double(read_table(name))
        leads = sorted({code >> 8 for code in result})
        for lead in leads:
            row = [result.get(lead << 8 | trail, geta) for trail in range(256)]
            lines.append("")
            lines.append(f"constexpr HostUtf8 {ident}_{lead:02X}[256] = {{")
            lines += cells(row, 8, lambda v: "G" if v == geta else f"0x{v:08X}")
            lines.append("};")
        lines.append("")
        lines.append(f"constexpr HostUtf8Double {ident}_PAIRS = {{{{")
        rows = [f"{ident}_{lead:02X}" if lead in leads else "UNDEFINED_ROW" for lead in range(256)]
        lines += cells(rows, 8, str)
        lines.append("}};")
    for name in SINGLE_TABLES:
        ident = name.upper().replace("-", "_")
        lines.append("")
        lines.append(f"constexpr HostUtf8Single {ident} = {{{{")
        lines += cells(utf8_single(read_table(name)), 8, lambda v: f"0x{v:08X}")
        lines.append("}};")
    lines += ["// clang-format on", "", "}  // namespace", ""]
    lines += [
        "const HostUtf8Page HOST_UTF8_JEF = {EBCDIK_JEF, JEF_PAIRS, nullptr, JEF_USER_DEFINED};",
        "const HostUtf8Page HOST_UTF8_KEIS78 = {EBCDIK_KEIS, KEIS78_PAIRS, nullptr, KEIS_USER_DEFINED};",
        "const HostUtf8Page HOST_UTF8_KEIS83 = {EBCDIK_KEIS, KEIS83_PAIRS, nullptr, KEIS_USER_DEFINED};",
        "",
        "}  // namespace rekmo",
        "",
    ]
    return "\n".join(lines)


# Host bytes the default single-byte table writes as a space (codec/ebcdic.cpp).
DEFAULT_SPACES = [False] * 256


def read_default_spaces():
    text = (ROOT / "codec" / "ebcdic.cpp").read_text(encoding="utf-8")
    body = text[text.index("HOST_SB_TABLE = {"):]
    values = []
    for line in body.splitlines()[1:17]:
        values += [int(v, 16) for v in line.split("*/")[1].replace(",", " ").split()]
    assert len(values) == 256
    for b, v in enumerate(values):
        DEFAULT_SPACES[b] = v == SPACE


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="fail unless the committed source is what this writes")
    ap.add_argument("--import", dest="source", metavar="DIR", help="refresh tools/host_tables/ from JSON tables")
    args = ap.parse_args()
    if args.source:
        import_tables(args.source)
    read_default_spaces()
    for out, text in ((OUT, generate()), (OUT_UTF8, generate_utf8())):
        if args.check:
            if out.read_text(encoding="utf-8") != text:
                sys.exit(f"{out} is not what tools/make_host_tables.py writes: run it again")
            continue
        out.write_text(text, encoding="utf-8", newline="\n")
        print(f"{out}: written")
    return 0


if __name__ == "__main__":
    sys.exit(main())
