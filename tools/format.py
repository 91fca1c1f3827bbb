#!/usr/bin/env python3
"""Formats the project's C++ sources with the committed .clang-format, or
checks that they are formatted (CI runs the check).

    tools/format.py            # rewrite every source in place
    tools/format.py --check    # change nothing; exit 1 naming each source that differs

Generated sources (a "Generated" or "Do not edit" line at the top) are left
as their generators write them: the generators' own checks hold them byte
for byte. The style is clang-format 14's (Debian 12); another version may
format some constructs differently, so the check wants that one.
"""
import argparse
import pathlib
import re
import shutil
import subprocess
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SUFFIXES = (".cpp", ".hpp", ".h", ".cc")


def sources():
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True).stdout
    for name in sorted(listed.decode().split("\0")):
        if not name.endswith(SUFFIXES):
            continue
        head = "".join((ROOT / name).read_text(encoding="utf-8", errors="replace").splitlines(True)[:5])
        if re.search(r"generated|do not edit", head, re.I):
            continue
        yield name


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true", help="change nothing; exit 1 when a source differs")
    parser.add_argument("--clang-format", default=shutil.which("clang-format-14") or shutil.which("clang-format"))
    args = parser.parse_args()
    if not args.clang_format:
        sys.exit("format.py: clang-format not found (Debian: apt-get install clang-format)")
    names = list(sources())
    if not args.check:
        subprocess.run([args.clang_format, "-i", *names], cwd=ROOT, check=True)
        return 0
    differ = [name for name in names
              if subprocess.run([args.clang_format, "--dry-run", "--Werror", name], cwd=ROOT,
                                capture_output=True).returncode != 0]
    for name in differ:
        print("%s differs from .clang-format: run tools/format.py" % name, file=sys.stderr)
    return 1 if differ else 0


if __name__ == "__main__":
    sys.exit(main())
