#!/usr/bin/env python3
"""Dependencies run one way: fails when a source includes a header of a layer
it may not use (codec/ from record/, record/ from platform/, anything but the
programs from the driver), naming the file, the line and the rule.

The build enforces the same by giving each library only its own include
folder (cmake/layers.cmake); this check also holds for headers that no
build of this machine compiles (the Windows sources) and says why.
"""
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent

# Each folder and the other folders whose headers it may include. The
# programs and the Python module use the public API (rekmo/), its types
# (format/, common/, codec/report.hpp) and the driver; the programs and the
# module also the platform.
BASE = {"common"}
API = BASE | {"format", "rekmo"}
LAYERS = {
    "common": set(),
    "codec": set(),
    "format": BASE,
    "platform": BASE,
    "rekmo": API | {"codec"},
    "record": API | {"codec"},
    "driver": API | {"platform"},
    "app": API | {"platform", "driver"},
    "inspect": API | {"platform", "driver", "codec/report.hpp", "codec/cp932.hpp"},
    "copybook": BASE | {"format", "platform"},
    "python": API | {"platform", "driver"},
    "examples": {"rekmo"},
}
# The version header is generated into the build and holds only numbers.
ANYONE = {"rekmo/version.hpp"}
# Headers private to their own folder: the public API must not reach them.
PRIVATE = {"format/reader.hpp"}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def faults():
    found = []
    for folder, allowed in LAYERS.items():
        for path in sorted((ROOT / folder).rglob("*")):
            if path.suffix not in (".cpp", ".hpp", ".h", ".cc"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for match in INCLUDE.finditer(text):
                header = match.group(1)
                if "/" not in header or header in ANYONE:
                    continue  # a header beside the file, or the version
                layer = header.split("/")[0]
                if header in PRIVATE and layer != folder:
                    line = text.count("\n", 0, match.start()) + 1
                    found.append("%s:%d includes %s: a header private to %s/" % (
                        path.relative_to(ROOT), line, header, layer))
                    continue
                if layer == folder or layer in allowed or header in allowed:
                    continue
                line = text.count("\n", 0, match.start()) + 1
                found.append("%s:%d includes %s: %s/ may include only %s" % (
                    path.relative_to(ROOT), line, header, folder,
                    ", ".join(sorted(allowed)) or "its own headers"))
    return found


def main():
    problems = faults()
    for problem in problems:
        print(problem, file=sys.stderr)
    unknown = sorted(p.name for p in ROOT.iterdir()
                     if p.is_dir() and any(p.rglob("*.cpp")) and p.name not in LAYERS
                     and p.name not in ("tests", "bench", "tools", "build", "docs", "cmake"))
    for name in unknown:
        print("%s/ holds C++ sources but has no row in tests/layers.py" % name, file=sys.stderr)
    return 1 if problems or unknown else 0


if __name__ == "__main__":
    sys.exit(main())
