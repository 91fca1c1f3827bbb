#!/usr/bin/env python3
"""Mutation check: how many hand-made faults the test suite catches.

    tools/mutate.py                         # every mutant in tools/mutants.txt
    tools/mutate.py --only packed-sign-c    # some of them, by id
    tools/mutate.py --list                  # the mutants, without running them

Each mutant is one small fault written into the source as a plain text
replacement (tools/mutants.txt says which file, which text, what it becomes
and what fault it models). For each mutant the tool writes the fault, rebuilds
the debug build incrementally, runs its tests, and puts the file back. A
mutant is killed when a test fails (or the suite times out), survives when
every test passes, and is invalid when it does not build or its text is not
found exactly once. The score is killed / (killed + survived).

The build is a copy of the debug preset in build/mutate (configured on first
use), so the usual build folders are left alone. Run it from a clean tree:
the tool refuses to start when a mutated file has uncommitted changes, and
restores every file it touched, also when interrupted.
"""

import argparse
import os
import re
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
MUTANTS = os.path.join(ROOT, "tools", "mutants.txt")
BUILD = os.path.join(ROOT, "build", "mutate")
SUITE_TIMEOUT = 600  # seconds for the whole test run of one mutant


class Mutant:
    def __init__(self, ident, fault):
        self.ident, self.fault = ident, fault
        self.path, self.before, self.after = None, [], []


def read_mutants(path):
    """Blocks of:  ## id: fault / file: path / - original lines / + replacement lines."""
    mutants, current = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("## "):
                ident, _, fault = line[3:].partition(":")
                current = Mutant(ident.strip(), fault.strip())
                mutants.append(current)
            elif line.startswith("#") or not line.strip():
                continue
            elif current is None:
                sys.exit("%s:%d: text before the first mutant" % (path, number))
            elif line.startswith("file: "):
                current.path = line[6:].strip()
            elif line.startswith("- ") or line == "-":
                current.before.append(line[2:])
            elif line.startswith("+ ") or line == "+":
                current.after.append(line[2:])
            else:
                sys.exit("%s:%d: not a mutant line: %r" % (path, number, line))
    idents = [m.ident for m in mutants]
    for m in mutants:
        if not m.path or not m.before:
            sys.exit("mutant %s needs a file and an original text" % m.ident)
        if idents.count(m.ident) > 1:
            sys.exit("mutant id %s is used twice" % m.ident)
    return mutants


def run(cmd, timeout=None):
    try:
        r = subprocess.run(cmd, cwd=ROOT, capture_output=True, text=True, timeout=timeout)
        return r.returncode, r.stdout + r.stderr
    except subprocess.TimeoutExpired as e:
        out = (e.stdout or b"") + (e.stderr or b"")
        return None, out.decode("utf-8", "replace") if isinstance(out, bytes) else out


def configure():
    if os.path.exists(os.path.join(BUILD, "CMakeCache.txt")):
        return
    # Warnings are not errors here: a mutant that builds with a warning is
    # still a fault to catch.
    code, out = run(["cmake", "--preset", "debug", "-B", BUILD, "-DREKMO_WERROR=OFF"])
    if code != 0:
        sys.exit("configuring %s failed:\n%s" % (BUILD, out))


def build():
    code, out = run(["cmake", "--build", BUILD])
    return code == 0, out


def test():
    """None when every test passes, else the first failing test's name."""
    code, out = run(["ctest", "--test-dir", BUILD, "-j2", "--stop-on-failure", "--timeout", "120"],
                    timeout=SUITE_TIMEOUT)
    if code == 0:
        return None
    if code is None:
        return "(timeout)"
    failed = re.findall(r"^\s*\d+ - (\S+) \(", out, re.M) or re.findall(r"Test\s+#\d+: (\S+) \.+\**\s*(?:Failed|Exception|Timeout)", out)
    return failed[0] if failed else "(ctest failed)"


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", nargs="*", help="mutant ids to run")
    ap.add_argument("--list", action="store_true", help="list the mutants and stop")
    ap.add_argument("--check", action="store_true", help="check that every original text is found once, and stop")
    ap.add_argument("--mutants", default=MUTANTS, help="the mutant file (default tools/mutants.txt)")
    args = ap.parse_args()

    mutants = read_mutants(args.mutants)
    if args.only:
        unknown = set(args.only) - {m.ident for m in mutants}
        if unknown:
            sys.exit("no such mutants: " + ", ".join(sorted(unknown)))
        mutants = [m for m in mutants if m.ident in args.only]
    if args.list:
        for m in mutants:
            print("%-28s %-28s %s" % (m.ident, m.path, m.fault))
        return 0

    if args.check:
        bad = 0
        for m in mutants:
            with open(os.path.join(ROOT, m.path), encoding="utf-8") as f:
                found = f.read().count("\n".join(m.before))
            if found != 1:
                bad += 1
                print("%s: original text found %d times in %s" % (m.ident, found, m.path))
        print("%d mutants, %d to mend" % (len(mutants), bad))
        return 1 if bad else 0

    paths = sorted({m.path for m in mutants})
    code, out = run(["git", "status", "--porcelain", "--"] + paths)
    if out.strip():
        sys.exit("uncommitted changes in files the mutants touch:\n" + out)
    configure()
    ok, out = build()
    if not ok:
        sys.exit("the unmutated tree does not build:\n" + out[-3000:])
    if test() is not None:
        sys.exit("the unmutated tree fails its tests: fix that first")

    results = []
    start = time.time()
    for m in mutants:
        path = os.path.join(ROOT, m.path)
        with open(path, encoding="utf-8") as f:
            original = f.read()
        before, after = "\n".join(m.before), "\n".join(m.after)
        t0 = time.time()
        if original.count(before) != 1:
            verdict, detail = "invalid", "original text found %d times" % original.count(before)
        else:
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original.replace(before, after))
                built, out = build()
                if not built:
                    verdict, detail = "invalid", "does not build"
                else:
                    failed = test()
                    verdict, detail = ("killed", failed) if failed else ("survived", "")
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(original)
        results.append((m, verdict, detail))
        print("%-28s %-8s %-40s %5.0fs  %s" % (m.ident, verdict, detail, time.time() - t0, m.fault), flush=True)
    build()

    killed = sum(1 for _, v, _ in results if v == "killed")
    survived = sum(1 for _, v, _ in results if v == "survived")
    invalid = sum(1 for _, v, _ in results if v == "invalid")
    score = 100.0 * killed / max(1, killed + survived)
    print("\n%d mutants: %d killed, %d survived, %d invalid; score %.1f%% (%d of %d), %.0f s"
          % (len(results), killed, survived, invalid, score, killed, killed + survived, time.time() - start))
    for m, v, _ in results:
        if v != "killed":
            print("  %s %s: %s (%s)" % (v, m.ident, m.fault, m.path))
    return 0 if invalid == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
