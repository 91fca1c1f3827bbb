#!/usr/bin/env python3
"""rekmo's CSV read by the programs users load it into: a real PostgreSQL
server, a real LibreOffice Calc and pandas, on the hostile host file of
hostile.py.

    clients.py postgres --rekmo PATH   # REKMO_PG: a PostgreSQL connection string
    clients.py calc --rekmo PATH       # soffice on the PATH
    clients.py pandas --rekmo PATH     # with the README's read_csv lines

Every row and value is compared with what hostile.py computed from the values
it wrote into the host file. A client that is not there skips the test (exit
77) with the reason, except in CI (CI=true), where it fails: CI provides both
(.ci/run starts the server with tests/clients/postgres.sh).
"""
import argparse
import csv
import io
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
import xml.etree.ElementTree as ET
from decimal import Decimal

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import hostile  # noqa: E402

SKIP = 77
ALL_WORDS = ["QUOTE", "HEADER", "EXACT", "TRIM"]


def missing(what):
    if os.environ.get("CI") == "true":
        print("FAIL: %s, and CI must provide it" % what)
        return 1
    print("SKIP: %s" % what)
    return SKIP


def stage(name, started):
    print("  (%s: %.1f s)" % (name, time.monotonic() - started))


# --- PostgreSQL ------------------------------------------------------------
class Server:
    def __init__(self, conninfo, database="postgres"):
        self.conninfo, self.database = conninfo, database

    def run(self, *commands):
        """psql's exit status, output and messages for the commands, in one session."""
        args = ["psql", "-X", "-q", "-At", "-v", "ON_ERROR_STOP=1", "-d", "%s dbname=%s" % (self.conninfo, self.database)]
        for command in commands:
            args += ["-c", command]
        done = subprocess.run(args, capture_output=True, env=dict(os.environ, PGCLIENTENCODING="UTF8"))
        return done.returncode, done.stdout.decode("utf-8"), done.stderr.decode("utf-8", "replace").strip()

    def __call__(self, *commands):
        status, out, err = self.run(*commands)
        if status != 0:
            raise SystemExit("psql failed: %s" % err)
        return out


def ident(name):
    return '"%s"' % name.replace('"', '""')


def load(server, table, csv_path, items, header=True, encoding="SJIS"):
    """Loads the CSV with the server's own COPY (the file read by the server);
    returns (rows as dicts in file order, COPY's error or None)."""
    columns = ", ".join("%s %s" % (ident(item.name), item.column) for item in items)
    options = "FORMAT csv, HEADER %s, ENCODING '%s'" % ("true" if header else "false", encoding)
    status, _, error = server.run(
        "CREATE TABLE %s (line bigserial, %s)" % (table, columns),
        "COPY %s (%s) FROM '%s' (%s)" % (table, ", ".join(ident(i.name) for i in items), csv_path, options))
    out = server("SELECT coalesce(json_agg(t ORDER BY line), '[]') FROM %s t" % table)
    return json.loads(out, parse_float=Decimal, parse_int=Decimal), (error if status else None)


def same(have, want):
    if isinstance(want, Decimal):
        # The same digits, places and sign: 30.50 is not 30.5, and -0 is not 0
        # (a sign PostgreSQL drops, but pandas keeps).
        return isinstance(have, Decimal) and have.as_tuple() == want.as_tuple()
    return have == want


def differences(loaded, expected, items):
    found = []
    for n in range(max(len(loaded), len(expected))):
        if n >= len(loaded) or n >= len(expected):
            found.append("record %d: %s" % (n + 1, "no row" if n >= len(loaded) else "a row too many"))
            continue
        for item, want in zip(items, expected[n]):
            have = loaded[n][item.name]
            if not same(have, want):
                found.append("record %d %s: %r, expected %r" % (n + 1, item.name, have, want))
    return found


def postgres(args, workdir):
    conninfo = os.environ.get("REKMO_PG")
    if not conninfo:
        return missing("no PostgreSQL server: set REKMO_PG to a connection string (`tests/clients/postgres.sh "
                       "start DIR` starts a throwaway server and prints it)")
    if shutil.which("psql") is None:
        return missing("no psql (Debian: postgresql-client)")
    # The server reads the files itself (COPY ... FROM 'file'), as the user it runs as.
    os.chmod(workdir, 0o755)
    admin = Server(conninfo)
    database = "rekmo_clients_%d" % os.getpid()
    admin("CREATE DATABASE %s ENCODING 'UTF8' TEMPLATE template0" % database)
    failures = []
    try:
        server = Server(conninfo, database)
        print("PostgreSQL " + server("SHOW server_version").strip())

        # Today's default output: a text with `"` merges records, and COPY says
        # nothing. CSV=QUOTE alone keeps them apart.
        started = time.monotonic()
        texts = ['ABC', '5" DISK', '3.5" FD', 'XYZ']
        path = os.path.join(workdir, "inches")
        with open(path + ".bin", "wb") as f:
            f.write(b"".join(hostile.padded(hostile.host_single(t), 8, b"\x40") for t in texts))
        item = hostile.Item("NAME", "E", 8, "TEXT")
        for name, lines in (("inches", ""), ("inches_quoted", "CSV=QUOTE\n")):
            with open(path + ".fmt", "w") as f:
                f.write(lines + "RECLEN=8\nNAME,1,8,E,1\n")
            hostile.run_rekmo(args.rekmo, path + ".bin", path + ".csv", path + ".fmt")
            os.chmod(path + ".csv", 0o644)
            rows, error = load(server, name, path + ".csv", [item], header=False)
            got = [r["NAME"] for r in rows]
            print("%s: %d records, %d rows loaded, COPY %s: %s" % (lines.strip() or "without CSV= lines", len(texts),
                  len(rows), "failed" if error else "succeeded", got))
            if not lines and (error or len(rows) >= len(texts)):
                failures.append("the unquoted `\"` was expected to merge records without an error")
            if lines and (error or got != [t.ljust(8) for t in texts]):
                failures.append("CSV=QUOTE did not keep the records apart")
        stage("one `\"` per record", started)

        started = time.monotonic()
        csv_path, items, expected = hostile.convert(args.rekmo, workdir, ALL_WORDS)
        os.chmod(csv_path, 0o644)
        rows, error = load(server, "hostile", csv_path, items)
        found = differences(rows, expected, items)
        values = len(expected) * len(items)
        nulls = sum(v is None for row in expected for v in row)
        print("CSV=%s: %d records, %d rows loaded, %d values compared (%d NULL), %d differences, "
              "%d rows merged or lost" % (",".join(ALL_WORDS), len(expected), len(rows), values, nulls, len(found),
                                          abs(len(expected) - len(rows))))
        if error:
            failures.append("COPY failed: " + error)
        for line in found[:20]:
            print("  DIFF " + line)
        if found:
            failures.append("%d differences" % len(found))
        stage("all options", started)

        # The same records in UTF-8 (CSV=UTF8, with a byte-order mark before
        # the header line), loaded as UTF8: every character the same.
        started = time.monotonic()
        csv_path, items, expected = hostile.convert(args.rekmo, workdir, ALL_WORDS + ["UTF8", "BOM"], name="utf8")
        os.chmod(csv_path, 0o644)
        rows, error = load(server, "utf8", csv_path, items, encoding="UTF8")
        found = differences(rows, expected, items)
        print("CSV=%s,UTF8,BOM: %d records, %d rows loaded, %d differences" %
              (",".join(ALL_WORDS), len(expected), len(rows), len(found)))
        if error:
            failures.append("COPY of the UTF-8 file failed: " + error)
        for line in found[:20]:
            print("  DIFF " + line)
        if found:
            failures.append("%d differences in the UTF-8 file" % len(found))
        stage("UTF-8", started)

        # The same file without QUOTE: records run into each other, or COPY gives up.
        started = time.monotonic()
        words = [w for w in ALL_WORDS if w != "QUOTE"]
        csv_path, items, expected = hostile.convert(args.rekmo, workdir, words, name="unquoted")
        os.chmod(csv_path, 0o644)
        rows, error = load(server, "unquoted", csv_path, items)
        found = differences(rows, expected, items)
        print("CSV=%s: %d records, %d rows loaded, %d differences%s" %
              (",".join(words), len(expected), len(rows), len(found),
               ", COPY failed: " + error.splitlines()[0] if error else ""))
        if not error and not found:
            failures.append("without QUOTE the file loaded intact: the test no longer shows why QUOTE exists")
        stage("without QUOTE", started)
    finally:
        admin("DROP DATABASE %s" % database)
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


# --- pandas ---------------------------------------------------------------
def pandas_read(args, workdir):
    try:
        import pandas as pd
    except ImportError:
        return missing("no pandas for %s (Debian: python3-pandas)" % sys.executable)
    csv_path, items, expected = hostile.convert(args.rekmo, workdir, ALL_WORDS)
    # The README's lines: every column as its text, an empty text as '', the
    # numbers as Decimal.
    frame = pd.read_csv(csv_path, encoding="cp932", dtype=str, keep_default_na=False)
    for item in items:
        if item.column == "NUMERIC":
            frame[item.name] = frame[item.name].map(lambda text: Decimal(text) if text else None)
    found = []
    if list(frame.columns) != [item.name for item in items] or len(frame) != len(expected):
        found.append("%d rows of %s, expected %d records" % (len(frame), list(frame.columns), len(expected)))
    else:
        for n, row in enumerate(expected):
            for item, want in zip(items, row):
                have = frame[item.name].iloc[n]
                # A CSV field says nothing of NULL: an empty code reads as '' too.
                want = "" if want is None and item.column == "TEXT" else want
                if not same(have, want):
                    found.append("record %d %s: %r, expected %r" % (n + 1, item.name, have, want))
    print("pandas %s read_csv: %d rows, %d values, %d differences" %
          (pd.__version__, len(frame), len(expected) * len(items), len(found)))
    for line in found[:20]:
        print("  DIFF " + line)
    return 1 if found else 0


# --- LibreOffice Calc ------------------------------------------------------
CALC_CSV = "Text - txt - csv (StarCalc)"
SHIFT_JIS = 64  # token 3 of the filter options: the character set, in Calc's numbering


def calc_cells(ods):
    """Every row of the first sheet as Calc holds it: (value type, text) per cell."""
    ns = {"table": "urn:oasis:names:tc:opendocument:xmlns:table:1.0",
          "text": "urn:oasis:names:tc:opendocument:xmlns:text:1.0",
          "office": "urn:oasis:names:tc:opendocument:xmlns:office:1.0"}
    q = lambda prefix, name: "{%s}%s" % (ns[prefix], name)

    def text_of(element):
        out = element.text or ""
        for child in element:
            if child.tag == q("text", "s"):
                out += " " * int(child.get(q("text", "c"), "1"))
            elif child.tag == q("text", "tab"):
                out += "\t"
            elif child.tag == q("text", "line-break"):
                out += "\n"
            else:
                out += text_of(child)
            out += child.tail or ""
        return out

    with zipfile.ZipFile(ods) as z:
        root = ET.fromstring(z.read("content.xml"))
    sheet = root.find(".//" + q("table", "table"))
    rows = []
    for row in sheet.iter(q("table", "table-row")):
        cells = []
        for cell in row:
            if cell.tag not in (q("table", "table-cell"), q("table", "covered-table-cell")):
                continue
            paragraphs = cell.findall(q("text", "p"))
            value = ("\n".join(text_of(p) for p in paragraphs), cell.get(q("office", "value-type")))
            cells += [value] * int(cell.get(q("table", "number-columns-repeated"), "1"))
        rows += [cells] * int(row.get(q("table", "number-rows-repeated"), "1"))
    # Trailing empty cells and rows are Calc's padding, not data.
    while rows and all(text == "" for text, _ in rows[-1]):
        rows.pop()
    return rows


def line_breaks(text):
    """A text as Calc keeps it in a cell: a line break, not the bytes that made
    it, so CR LF, LF CR and a lone CR come back as LF."""
    return re.sub("\r\n|\n\r|\r", "\n", text)


def soffice(profile, *args):
    done = subprocess.run(["soffice", "--headless", "--norestore", "--nologo", "-env:UserInstallation=file://" + profile]
                          + list(args), capture_output=True, timeout=600)
    if done.returncode != 0:
        raise SystemExit("soffice failed (status %d): %s" % (done.returncode, done.stderr.decode(errors="replace")))


def calc(args, workdir):
    if shutil.which("soffice") is None:
        return missing("no LibreOffice (Debian: libreoffice-calc-nogui)")
    started = time.monotonic()
    csv_path, items, expected = hostile.convert(args.rekmo, workdir, ALL_WORDS)
    with open(csv_path, "rb") as f:
        table = list(csv.reader(io.StringIO(f.read().decode("cp932"), newline="")))
    failures = []
    profile = os.path.join(workdir, "profile")
    # Import: comma, double quote, Shift_JIS (64), from row 1, every column as text (format 2).
    formats = "/".join("%d/2" % (n + 1) for n in range(len(items)))
    soffice(profile, "--infilter=%s:44,34,%d,1,%s" % (CALC_CSV, SHIFT_JIS, formats), "--convert-to", "ods",
            "--outdir", os.path.join(workdir, "ods"), csv_path)
    ods = os.path.join(workdir, "ods", os.path.basename(csv_path)[:-4] + ".ods")
    stage("CSV to spreadsheet", started)
    started = time.monotonic()
    # Export: comma, double quote, Shift_JIS (64), the cells' own texts.
    soffice(profile, "--convert-to", "csv:%s:44,34,%d,1" % (CALC_CSV, SHIFT_JIS), "--outdir",
            os.path.join(workdir, "back"), ods)
    stage("spreadsheet to CSV", started)
    with open(os.path.join(workdir, "back", os.path.basename(csv_path)), "rb") as f:
        back = list(csv.reader(io.StringIO(f.read().decode("cp932", "replace"), newline="")))

    sheet = calc_cells(ods)
    # What every cell must hold: the values hostile.py wrote, as texts.
    want = [[item.name for item in items]] + [[hostile.cell_text(v) for v in row] for row in expected]
    cells = sum(len(row) for row in want)
    breaks = sum(line_breaks(cell) != cell for row in want for cell in row)
    found = []
    # The sheet's rows end at its last used column: the cells after a row's
    # last text are empty.
    texts = [[text for text, _ in row] + [""] * (len(items) - len(row)) for row in sheet]
    rows = {"the CSV": table, "the sheet": texts, "the CSV back": back}
    for n in range(max(len(want), len(table), len(sheet), len(back))):
        if n >= len(want) or any(n >= len(row) for row in rows.values()):
            found.append("row %d: in %s, not in %s" % (n + 1, ", ".join(k for k, r in rows.items() if n < len(r)),
                                                       ", ".join(k for k, r in rows.items() if n >= len(r))))
            continue
        for column, cell in enumerate(want[n]):
            for name, row in rows.items():
                have = row[n][column] if column < len(row[n]) else None
                if have != (cell if name == "the CSV" else line_breaks(cell)):
                    found.append("row %d column %d in %s: %r, expected %r" % (n + 1, column + 1, name, have, cell))
            kind = sheet[n][column][1] if column < len(sheet[n]) else None
            if cell and kind != "string":
                found.append("row %d column %d in the sheet: a %s cell, expected text" % (n + 1, column + 1, kind))
        for name, row in rows.items():
            if len(row[n]) > len(want[n]):
                found.append("row %d in %s: %d cells, expected %d" % (n + 1, name, len(row[n]), len(want[n])))
    print("LibreOffice Calc, charset %d: %d rows, %d cells (%d with CR in a line break), every one a text cell; "
          "%d differences in the CSV, the sheet or the CSV back" % (SHIFT_JIS, len(want), cells, breaks, len(found)))
    for line in found[:20]:
        print("  DIFF " + line)
    if found:
        failures.append("%d differences" % len(found))
    for failure in failures:
        print("FAIL: " + failure)
    return 1 if failures else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("client", choices=["postgres", "calc", "pandas"])
    parser.add_argument("--rekmo", required=True)
    args = parser.parse_args()
    with tempfile.TemporaryDirectory() as workdir:
        return {"postgres": postgres, "calc": calc, "pandas": pandas_read}[args.client](args, workdir)


if __name__ == "__main__":
    sys.exit(main())
