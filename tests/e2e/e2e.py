#!/usr/bin/env python3
"""rekmo, rekmo-inspect and rekmo-copybook run as processes on the cases of
tests/data/rekmo.txt, inspect.txt and copybook.txt (rekmo.txt's header says how a case reads): exit
status, message, standard output and files, byte for byte; every JSON report
also against inspect/report.schema.json.

    e2e.py --source DIR --rekmo rekmo --inspect rekmo-inspect --copybook rekmo-copybook --example convert_in_memory [--fault-inject LIB]
    e2e.py ... --rekmo rekmo_stderr.exe ... --emulator wine --release rekmo.exe   (the Windows programs)
    e2e.py ... --update       # rewrite every "> stdout" with what the programs write now
"""

import argparse
import json
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import threading

ARGS = None


class Input:
    def __init__(self, make):
        self.make = make


def helpers(source):
    def sparse(size):
        def make(path):
            open(path, "wb").close()
            os.truncate(path, size)
        return Input(make)

    def fifo(data):
        def make(path):
            os.mkfifo(path)
            threading.Thread(target=lambda: open(path, "wb").write(data), daemon=True).start()
        return Input(make)

    def closed_fifo():
        def make(path):
            os.mkfifo(path)
            threading.Thread(target=lambda: os.close(os.open(path, os.O_RDONLY)), daemon=True).start()
        return Input(make)

    def version():
        with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as f:
            return re.search(r"project\([^)]*VERSION\s+(\S+)", f.read()).group(1)

    return {"source": lambda name: open(os.path.join(source, name), "rb").read(), "sparse": sparse, "fifo": fifo,
            "closed_fifo": closed_fifo, "directory": lambda: Input(os.makedirs), "version": version,
            "hardlink": lambda target: Input(lambda path: os.link(os.path.join(os.path.dirname(path), target), path)),
            "symlink": lambda target: Input(lambda path: os.symlink(target, path)),
            "absent": lambda: None, "size": lambda n: ("size", n), "range": range}


def read_cases(path):
    cases, case = [], None
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if line.startswith("["):
                case = {"name": line.strip("[]"), "file": path, "line": number, "inputs": [], "outputs": [],
                        "run": [], "status": 0, "message": "", "env": {}, "only": None, "locale": "C",
                        "program": "rekmo", "lines": None, "program_in": None, "then": [],
                        "stdout_to": None}
                cases.append(case)
            elif line.strip() and not line.startswith("#"):
                key, _, value = line.partition(" ")
                if key in "<>":
                    name, _, expression = value.partition(" = ")
                    name = eval(name) if name.startswith('"') else name  # a name that is no UTF-8
                    case["inputs" if key == "<" else "outputs"].append((name, expression, number))
                elif key in ("run", "then"):
                    operands = eval(value[2:]) if value.startswith("= ") else shlex.split(value)
                    if key == "then":
                        case[key].append(operands)
                    else:
                        case[key] = operands
                elif key in ("status", "message", "program_in"):
                    case[key] = eval(value)
                elif key == "env":
                    name, _, setting = value.partition("=")
                    case["env"][name] = setting
                else:
                    case[key] = value
    return cases


def run(case, program, operands, folder):
    if ARGS.emulator:
        command, env = [ARGS.emulator, program], dict(os.environ, WINEDEBUG="-all")
    else:
        command, env = [program], {"LC_ALL": case["locale"], "PATH": os.environ.get("PATH", "")}
        if case["env"]:
            env.update(case["env"], LD_PRELOAD=ARGS.fault_inject,
                       ASAN_OPTIONS="verify_asan_link_order=0:alloc_dealloc_mismatch=0")
    if case.get("stdout_to"):  # standard output into a file (such as /dev/full), not captured
        with open(os.path.join(folder, case["stdout_to"]), "wb") as out:
            r = subprocess.run(command + [os.fsencode(a) for a in operands], cwd=folder, env=env, stdout=out,
                               stderr=subprocess.PIPE, timeout=600)
        r.stdout = b""
    else:
        r = subprocess.run(command + [os.fsencode(a) for a in operands], cwd=folder, env=env, capture_output=True,
                           timeout=600)
    if ARGS.emulator:
        r.stdout, r.stderr = r.stdout.replace(b"\r\n", b"\n"), r.stderr.replace(b"\r\n", b"\n")
    return r


def check(case, values, updates):
    """The ways the case went wrong, as sentences."""
    inspect = case["program"] == "inspect"
    with tempfile.TemporaryDirectory(prefix="rekmo-e2e-") as folder:
        for name, expression, _ in case["inputs"]:
            value = eval(expression, dict(values, __builtins__={}))
            if not isinstance(value, Input):
                data = value.encode() if isinstance(value, str) else value
                value = Input(lambda path, data=data: open(path, "wb").write(data))
            os.makedirs(os.path.dirname(os.path.join(folder, name)), exist_ok=True)
            value.make(os.path.join(folder, name))
        program = {"rekmo": ARGS.rekmo, "inspect": ARGS.inspect, "example": ARGS.example,
                   "copybook": ARGS.copybook}[case["program"]]
        if case["program_in"]:  # a copy of the program, in a folder of that name
            os.makedirs(os.path.join(folder, case["program_in"]))
            program = shutil.copy(program, os.path.join(folder, case["program_in"]))
        r = run(case, program, case["run"], folder)
        problems = []
        if r.returncode != case["status"]:
            problems.append("status %d, not %d" % (r.returncode, case["status"]))
        encoding = "cp932" if ARGS.emulator and case["program"] in ("rekmo", "copybook") else "utf-8"
        message = case["message"].encode(encoding, "surrogateescape")
        if r.stderr.removesuffix(b"\n") != message:
            problems.append("message %r" % r.stderr.decode(encoding, "replace"))
        if inspect and "--json" in case["run"] and r.stdout:
            import jsonschema  # Debian's python3-jsonschema
            with open(os.path.join(ARGS.source, "inspect", "report.schema.json"), encoding="utf-8") as f:
                jsonschema.validate(json.loads(r.stdout), json.load(f))
        if case["lines"] == "of rekmo":
            records = json.loads(r.stdout)["records"]
            lines = b"".join(b",".join(bytes.fromhex(i["text_hex"]) for i in rec["items"]) + b"\n" for rec in records)
            run(case, ARGS.rekmo, [case["run"][1], "rekmo.csv", case["run"][0]], folder)
            if lines != open(os.path.join(folder, "rekmo.csv"), "rb").read():
                problems.append("the texts are not rekmo's lines")
        for operands in case["then"]:  # rekmo, after the program, on what it wrote
            then = run(case, ARGS.rekmo, operands, folder)
            if then.returncode != 0:
                problems.append("then: rekmo status %d %r" % (then.returncode, then.stderr[:200]))
        # made(FILE): a file of the folder as the runs left it, to compare two of them
        made = lambda name: open(os.path.join(folder, name), "rb").read()
        for name, expression, number in case["outputs"]:
            expected = eval(expression, dict(values, made=made, __builtins__={}))
            path = os.path.join(folder, name)
            if name == "stdout":
                got = r.stdout
                if ARGS.update and got != (expected.encode() if isinstance(expected, str) else expected):
                    updates[number] = "> stdout = %r" % (got.decode() if got.isascii() else got)
            elif expected is None:
                got, expected = os.path.exists(path), False
            elif isinstance(expected, tuple):
                got, expected = os.path.getsize(path) if os.path.exists(path) else None, expected[1]
            else:
                got = open(path, "rb").read() if os.path.exists(path) else None
            if isinstance(expected, str):
                expected = expected.encode()
            if got != expected:
                problems.append("%s: %s" % (name, repr(got)[:300]))
        return problems


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    for option in ("--source", "--rekmo", "--inspect", "--example", "--copybook"):
        parser.add_argument(option, required=True)
    parser.add_argument("--emulator")
    parser.add_argument("--fault-inject")
    parser.add_argument("--update", action="store_true")
    parser.add_argument("--release", help="the released rekmo.exe: a window program with its version")
    ARGS = parser.parse_args()
    ARGS.rekmo, ARGS.inspect, ARGS.example, ARGS.copybook = map(
        os.path.abspath, (ARGS.rekmo, ARGS.inspect, ARGS.example, ARGS.copybook))
    values = helpers(ARGS.source)
    failed = total = 0
    if ARGS.release:
        image = open(ARGS.release, "rb").read()
        pe = int.from_bytes(image[0x3C:0x40], "little")
        subsystem = int.from_bytes(image[pe + 24 + 68:pe + 24 + 70], "little")  # in the PE32+ optional header
        version = ("FileVersion\0\0" + values["version"]()).encode("utf-16-le")
        failed += subsystem != 2 or version not in image
        print("%s %s: a window program, with its version" % ("FAIL" if failed else "ok  ", ARGS.release))
    for name in ("rekmo.txt", "inspect.txt", "copybook.txt"):
        path = os.path.join(ARGS.source, "tests", "data", name)
        updates = {}
        for case in read_cases(path):
            if case["only"] == ("posix" if ARGS.emulator else "windows"):
                continue
            problems = check(case, values, updates)
            print("%s %s:%d %s" % ("FAIL" if problems else "ok  ", name, case["line"], case["name"]))
            for problem in problems:
                print("      " + problem)
            failed += bool(problems)
            total += 1
        if updates:
            with open(path, encoding="utf-8") as f:
                lines = f.read().split("\n")
            for number, line in updates.items():
                lines[number - 1] = line
            with open(path, "w", encoding="utf-8") as f:
                f.write("\n".join(lines))
            print("rewrote %d outputs in %s" % (len(updates), path))
    print("%d cases, %d failed" % (total, failed))
    return 1 if failed or total < 40 else 0


if __name__ == "__main__":
    sys.exit(main())
