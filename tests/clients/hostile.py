"""A host file that is hard to carry into other programs, and what each of its
values is, worked out here from the values themselves, never from rekmo.

Every record holds texts with `"`, `,`, CR, LF, a `\\.` line, trailing spaces
(single-byte and ideographic), half-width katakana and kanji whose Shift_JIS
trail byte is 5C (表, ソ) or 81 followed by `@` (氏@: the bytes 81 40 end it
without an ideographic space); packed and zoned numbers of 18 to 31 digits,
scaled, negative, with leading or separate signs; zero-led codes; and numbers
whose digits are no digits. The host bytes are written from Python values:
single-byte text through code page 037 for letters, digits and punctuation
(the host table agrees with it there) and the host's katakana rows, kanji as
JIS X 0208 row and cell from Python's EUC-JP codec (KEIS and JEF set the high
bit, J takes them between ESC $ B and ESC ( J), numbers digit by digit. The
values a client must get back are the same Python values: texts without their
trailing spaces, numbers as `Decimal`, empty texts as '', and numbers that
are no numbers as None (NULL).
"""
import os
import random
import subprocess
from decimal import Decimal

# Half-width katakana on the host: each string starts at the host byte given.
KATAKANA_ROWS = {0x42: "｢｣", 0x81: "ｱｲｳｴｵｶｷｸｹｺ", 0x8C: "ｻｼｽｾｿﾀﾁﾂﾃﾄﾅﾆﾇﾈﾉ", 0x9D: "ﾊﾋﾌ",
                 0xA2: "ﾍﾎﾏﾐﾑﾒﾓﾔﾕ", 0xAC: "ﾖﾗﾘﾙ", 0xBA: "ﾚﾛﾜﾝﾞﾟ"}
HOST_KATAKANA = {char: start + i for start, row in KATAKANA_ROWS.items() for i, char in enumerate(row)}
# Host 5B is the yen sign of JIS X 0201, the byte 5C: code page 932 reads it as a backslash.
HOST_YEN = 0x5B
SINGLE_BYTE = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 \"',.-/()&=%+*;:#@?<>!"

SPACE_E, SPACE_KEIS, SPACE_JEF = 0x40, b"\xa1\xa1", b"\x40\x40"


def host_single(text):
    """E bytes of a text of SINGLE_BYTE characters, katakana and backslashes."""
    out = bytearray()
    for char in text:
        if char == "\\":
            out.append(HOST_YEN)
        elif char in HOST_KATAKANA:
            out.append(HOST_KATAKANA[char])
        else:
            assert char in SINGLE_BYTE, char
            out += char.encode("cp037")
    return bytes(out)


def jis_pairs(text):
    """JIS X 0208 row and cell bytes with the high bit set (EUC-JP, KEIS, JEF)."""
    data = text.encode("euc_jp")
    assert len(data) == 2 * len(text) and all(b >= 0xA1 for b in data), text
    return data


def host_keis_mixed(parts):
    """K bytes: (text, double) parts, double-byte ones between 0A 42 and 0A 41."""
    return b"".join(b"\x0a\x42" + jis_pairs(t) + b"\x0a\x41" if double else host_single(t) for t, double in parts)


def host_jis(parts):
    """J bytes: single-byte parts copied (ASCII, CR, LF, half-width katakana),
    double-byte ones between ESC $ B and ESC ( J."""
    out = b""
    for text, double in parts:
        if double:
            out += b"\x1b$B" + bytes(b & 0x7F for b in jis_pairs(text)) + b"\x1b(J"
        else:
            out += text.encode("cp932")
    return out


def padded(data, length, pad):
    assert len(data) <= length, (data, length)
    return data + pad * ((length - len(data)) // len(pad))


def trimmed(text):
    return text.rstrip(" \u3000")


# --- Numbers ---------------------------------------------------------------
POSITIVE, NEGATIVE = (0xC, 0xF), (0xD, 0xA, 0xB, 0xE)


def packed(digits, sign):
    nibbles = [int(d, 16) for d in digits] + [sign]
    assert len(nibbles) % 2 == 0
    return bytes(nibbles[i] << 4 | nibbles[i + 1] for i in range(0, len(nibbles), 2))


def zoned(digits, sign_zone, leading=False):
    out = bytearray(0xF0 | int(d, 16) for d in digits)
    at = 0 if leading else -1
    out[at] = sign_zone << 4 | (out[at] & 0x0F)
    return bytes(out)


class Number:
    """A P or Z item's host bytes and the value a client must read: `value`
    (a Decimal with `scale` places, None when the digits are no number) and
    `text`, the digits of a code (DIGITS=)."""

    def __init__(self, rng, digits, kind, sign_form=None, scale=0, code=False):
        self.rng, self.count, self.kind = rng, digits, kind
        self.sign_form, self.scale, self.code = sign_form, scale, code

    def make(self, magnitude=None, negative=None, sign=None, fault=None):
        rng = self.rng
        if magnitude is None:
            length = rng.randint(1, self.count) if self.count < 18 else rng.randint(18, self.count)
            magnitude = rng.randrange(10 ** (length - 1), 10 ** length) if rng.random() > 0.05 else 0
        digits = "%0*d" % (self.count, magnitude)
        assert len(digits) == self.count
        if negative is None:
            negative = rng.random() < 0.4
        if sign is None:
            sign = rng.choice(NEGATIVE if negative else POSITIVE)
        if fault == "digit":  # a half-byte A-F where a digit stands
            at = rng.randrange(self.count)
            digits = digits[:at] + rng.choice("ABCDEF") + digits[at + 1:]
        elif fault == "sign":  # a sign half-byte of 0-9
            sign = rng.randrange(10)
        if self.kind == "P":
            data = packed(digits, sign)
        elif self.sign_form in ("LEADING SEPARATE", "TRAILING SEPARATE"):
            sign_byte = {True: 0x60, False: 0x4E}[negative] if fault != "sign" else rng.choice([0x40, 0xF0, 0x6B])
            body = zoned(digits, 0xF)
            data = bytes([sign_byte]) + body if self.sign_form.startswith("LEADING") else body + bytes([sign_byte])
        else:
            data = zoned(digits, sign, leading=self.sign_form == "LEADING")
            if fault == "spaces":  # a code of host spaces
                data = b"\x40" * len(data)
        if fault:
            return data, None
        if self.code:
            return data, ("-" if sign in NEGATIVE else "") + digits
        value = -magnitude if sign in NEGATIVE and magnitude else magnitude
        # Built from text, so that no context rounds the 31 digits.
        if self.scale >= 0:
            return data, Decimal("%dE-%d" % (value, self.scale))
        return data, Decimal(value * 10 ** -self.scale)

    @property
    def length(self):
        if self.kind == "P":
            return (self.count + 2) // 2
        return self.count + (self.sign_form is not None and self.sign_form.endswith("SEPARATE"))


# --- The layout ------------------------------------------------------------
class Item:
    def __init__(self, name, kind, length, column, output=True):
        self.name, self.kind, self.length, self.column, self.output = name, kind, length, column, output


def layout(rng):
    """The items in record order: (Item, generator of (bytes, value))."""
    numbers = {
        "BIGP": Number(rng, 31, "P"),
        "BIGZ": Number(rng, 31, "Z"),
        "AMT": Number(rng, 15, "P", scale=2),
        "RATE": Number(rng, 9, "Z", sign_form="LEADING", scale=7),
        "BAL": Number(rng, 20, "Z", sign_form="TRAILING SEPARATE", scale=4),
        "ADJ": Number(rng, 12, "Z", sign_form="LEADING SEPARATE"),
        "THOU": Number(rng, 7, "P", scale=-3),
        "TINY": Number(rng, 3, "Z", scale=5),
        "ZIP": Number(rng, 7, "Z", code=True),
        "ACCT": Number(rng, 11, "P", code=True),
    }
    items = [
        Item("REC", "Z", 6, "TEXT"),
        Item("名前", "E", 24, "TEXT"),
        Item("NOTE", "J", 64, "TEXT"),
        Item("漢字", "KN", 16, "TEXT"),
        Item("JEFNAME", "FN", 16, "TEXT"),
        Item("MIXED", "K", 32, "TEXT"),
        Item("FILLER", "E", 3, None, output=False),
    ]
    for name, number in numbers.items():
        items.append(Item(name, number.kind, number.length, "TEXT" if number.code else "NUMERIC"))
    return items, numbers


def format_text(items, numbers, csv_words):
    """The format file (code page 932) with the given CSV= words and the item
    lines the numbers need."""
    lines = ["# Hostile records for the client tests", "RECLEN=%d" % sum(i.length for i in items)]
    if csv_words:
        # Two lines: their words add up.
        lines += ["CSV=" + ",".join(csv_words[:2])] + (["csv= " + " , ".join(csv_words[2:])] if csv_words[2:] else [])
    lines.append("DIGITS=REC")
    for name, number in numbers.items():
        if number.code:
            lines.append("DIGITS=%s" % name)
        if number.scale:
            lines.append("SCALE=%s,%d" % (name, number.scale))
        if number.sign_form:
            lines.append("SIGN=%s,%s" % (name, number.sign_form))
    position = 1
    for item in items:
        lines.append("%s,%d,%d,%s,%d" % (item.name, position, item.length, item.kind, item.output))
        position += item.length
    return ("\n".join(lines) + "\n").encode("cp932")


# Texts that break a naive CSV writer or reader, first in every column.
E_TEXTS = ['5" DISK', '"QUOTED"', "A,B,C", ",", '"', "", " LEAD SPACE", "ﾔﾏﾀﾞ ﾀﾛｳ", "｢ｶﾌﾞｼｷｶﾞｲｼﾔ｣",
           "\\.", "\\100,000", "=1+2", "-0", "00123", "1-2", "O'NEIL & CO.", '12" ,"34']
J_TEXTS = [[("line1\r\nline2", False)], [("CR\ronly", False)], [("LF\nends\n", False)],
           [("\n\\.\n", False)], [('say "hi", ok', False)],
           [("表示", True), (',"', False), ("ソフト能力", True), ('"', False)],
           [("氏", True), ("@", False)], [("全角", True), ("　空白　", True)], [("", False)],
           [("ｶﾀｶﾅ ", False), ("表", True), ("\r\n", False)], [('"', False)], [("\\", False)]]
KANJI = "表ソ能十申予構暴示氏名香メ漢字＝＠"
KN_TEXTS = ["表示", "ソフト開発", "能力十分", "申予構暴", "", "＝", "氏　名", "香メ"]
K_TEXTS = [[("ABC", False), ("表", True), ("DEF", False)], [("氏", True), ("@", False)],
           [('"', False), ("表", True), ('"', False)], [("ｶﾅ,", False), ("漢字", True)],
           [("", False)], [("X", False), ("メ", True), ("@ ", False)], [("ソ", True), (",", False), ("能", True)]]


def random_single(rng, length):
    alphabet = SINGLE_BYTE + '"",,' + "ｱｲｳﾊﾞﾟ\\"
    text = "".join(rng.choice(alphabet) for _ in range(rng.randint(0, length)))
    return text


def random_jis(rng):
    parts, size = [], 0
    for _ in range(rng.randint(0, 4)):
        if rng.random() < 0.4:
            text = "".join(rng.choice(KANJI) for _ in range(rng.randint(1, 4)))
            cost = 6 + 2 * len(text)
            double = True
        else:
            text = "".join(rng.choice("AZaz09 \"',\r\n\\.ｱﾝ") for _ in range(rng.randint(1, 8)))
            cost, double = len(text), False
        if size + cost > 64:
            break
        parts.append((text, double))
        size += cost
    return parts


def random_mixed(rng):
    parts, size = [], 0
    for _ in range(rng.randint(0, 4)):
        if rng.random() < 0.5:
            text, double = "".join(rng.choice(KANJI) for _ in range(rng.randint(1, 3))), True
            cost = 4 + 2 * len(text)
        else:
            text, double = random_single(rng, 5), False
            cost = len(text)
        if size + cost > 32:
            break
        parts.append((text, double))
        size += cost
    return parts


# Values at the edges, first in every number column: the largest negative,
# zero, minus zero, -1, and two that a double does not hold.
EDGES = [lambda count: dict(magnitude=10 ** count - 1, negative=True),
         lambda count: dict(magnitude=0, negative=False),
         lambda count: dict(magnitude=0, negative=True, sign=0xD),
         lambda count: dict(magnitude=1, negative=True),
         lambda count: dict(magnitude=305039325767626768 % 10 ** count, negative=False),
         lambda count: dict(magnitude=9007199254740993 % 10 ** count, negative=True)]


def records(seed=25, count=300):
    """(items, numbers, host bytes, expected rows): each row a list of the
    output items' values, in order."""
    rng = random.Random(seed)
    items, numbers = layout(rng)
    host, rows = bytearray(), []
    faults = ["digit", "sign"]
    for n in range(count):
        record, row = bytearray(), []
        # REC: the record number as a zero-led code.
        rec = Number(rng, 6, "Z", code=True).make(magnitude=n + 1, negative=False, sign=0xF)
        e_text = E_TEXTS[n] if n < len(E_TEXTS) else random_single(rng, 24)
        j_parts = J_TEXTS[n] if n < len(J_TEXTS) else random_jis(rng)
        kn = KN_TEXTS[n] if n < len(KN_TEXTS) else "".join(rng.choice(KANJI) for _ in range(rng.randint(0, 8)))
        fn = KN_TEXTS[-1 - n] if n < len(KN_TEXTS) else "".join(rng.choice(KANJI) for _ in range(rng.randint(0, 8)))
        k_parts = K_TEXTS[n] if n < len(K_TEXTS) else random_mixed(rng)
        fields = [rec,
                  (padded(host_single(e_text), 24, bytes([SPACE_E])), trimmed(e_text)),
                  (padded(host_jis(j_parts), 64, b" "), trimmed("".join(t for t, _ in j_parts))),
                  (padded(jis_pairs(kn), 16, SPACE_KEIS), trimmed(kn)),
                  (padded(jis_pairs(fn), 16, SPACE_JEF), trimmed(fn)),
                  (padded(host_keis_mixed(k_parts), 32, bytes([SPACE_E])), trimmed("".join(t for t, _ in k_parts))),
                  (b"\x7f\x6b\x25", None)]
        for name, number in numbers.items():
            special = {}
            if n < len(EDGES):
                special = EDGES[n](number.count)
            elif rng.random() < 0.08:
                special = dict(fault=rng.choice(faults + ["spaces"] * (number.kind == "Z" and not number.sign_form)))
            fields.append(number.make(**special))
        for item, (data, value) in zip(items, fields):
            assert len(data) == item.length, (item.name, data, item.length)
            record += data
            if item.output:
                row.append(value)
        host += record
        rows.append(row)
    return items, numbers, bytes(host), rows


def cell_text(value):
    """A value as a CSV field's text: '' for an empty text and for NULL."""
    if value is None:
        return ""
    return value if isinstance(value, str) else format(value, "f")


def convert(rekmo, workdir, csv_words, seed=25, count=300, name="hostile"):
    """Writes the host file and its format, converts it with rekmo; returns
    (csv path, items, expected rows)."""
    items, numbers, host, rows = records(seed, count)
    host_path = os.path.join(workdir, name + ".bin")
    format_path = os.path.join(workdir, name + ".fmt")
    csv_path = os.path.join(workdir, name + ".csv")
    with open(host_path, "wb") as f:
        f.write(host)
    with open(format_path, "wb") as f:
        f.write(format_text(items, numbers, csv_words))
    run_rekmo(rekmo, host_path, csv_path, format_path)
    return csv_path, [item for item in items if item.output], rows


def run_rekmo(rekmo, host_path, csv_path, format_path):
    done = subprocess.run([rekmo, host_path, csv_path, format_path], capture_output=True)
    if done.returncode != 0:
        with open(format_path, "rb") as f:
            options = [line for line in f.read().decode("cp932").splitlines() if line[:1].isalpha() and "=" in line]
        raise SystemExit("rekmo refused %s (status %d): %s\n  its format's option lines: %s" %
                         (os.path.basename(host_path), done.returncode,
                          done.stderr.decode("utf-8", "replace").strip(), "; ".join(options)))
