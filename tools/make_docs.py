#!/usr/bin/env python3
"""Writes what the user documentation derives from elsewhere, or checks it.

- README.md's host single-byte table, from the table the E decoder uses
  (codec/ebcdic.cpp), between its two marker lines;
- the manual pages man/rekmo.1, man/rekmo-inspect.1 and man/rekmo-copybook.1,
  from README.md's
  sections, so the two cannot say different things;
- with --check: that both are current, that every relative link, every
  #anchor and every source path named in README.md and docs/*.md exists,
  and that every build path a README command names (`build/<preset>/...`,
  `cmake --install build/<preset>`) is made by a step the README itself
  shows, with the program it names among what that step builds.

    tools/make_docs.py            # rewrite the table and the manual pages
    tools/make_docs.py --check    # exit 1, naming what is stale or broken
"""
import argparse
import json
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE_BEGIN = "<!-- byte table: written by tools/make_docs.py from codec/ebcdic.cpp -->"
TABLE_END = "<!-- end of byte table -->"

# Each manual page: its name line, synopsis, and the README sections it holds
# (by heading, or by heading and the page's title for it, in order); the
# README's text before its first section is rekmo's description.
PAGES = {
    "rekmo.1": {
        "name": "rekmo \\- convert fixed-length host records to Shift_JIS CSV",
        "synopsis": "\\fBrekmo\\fR \\fIHostFile\\fR \\fIWinFile\\fR \\fIFormatFile\\fR",
        "intro": True,
        "sections": ["The command line", "The format file", "Item types", "Real host code pages: `HOSTCODE=`",
                     "UTF-8 output and the site's gaiji: `CSV=UTF8`, `GAIJI=`",
                     "Exact numbers, quoting and a header: `CSV=`, `SCALE=`, `SIGN=`, `DIGITS=`",
                     "Record kinds and variable-length records: `KIND=`, `RECFM=`",
                     "Messages and exit status", "Loading the CSV into other programs"],
        "see_also": "\\fBrekmo-inspect\\fR(1), \\fBrekmo-copybook\\fR(1)",
    },
    "rekmo-inspect.1": {
        "name": "rekmo-inspect \\- show a record layout against real host data",
        "synopsis": "\\fBrekmo-inspect\\fR \\fIFormatFile\\fR [\\fIHostFile\\fR] [\\fIoptions\\fR]",
        "intro": False,
        "sections": [("rekmo-inspect: a layout against real data", "DESCRIPTION")],
        "see_also": "\\fBrekmo\\fR(1), \\fBrekmo-copybook\\fR(1)",
    },
    "rekmo-copybook.1": {
        "name": "rekmo-copybook \\- write a rekmo format file from a COBOL copybook",
        "synopsis": "\\fBrekmo-copybook\\fR \\fICOPYBOOK\\fR [\\fIoptions\\fR]",
        "intro": False,
        "sections": [("rekmo-copybook: the format file from a COBOL copybook", "DESCRIPTION")],
        "see_also": "\\fBrekmo\\fR(1), \\fBrekmo-inspect\\fR(1)",
    },
}


def host_table():
    source = (ROOT / "codec/ebcdic.cpp").read_text(encoding="utf-8")
    body = source[source.index("HOST_SB_TABLE"):]
    body = body[body.index("{") + 1:body.index("};")]
    values = [int(v, 16) for v in re.findall(r"0x([0-9A-Fa-f]{2})", re.sub(r"/\*.*?\*/", "", body))]
    if len(values) != 256:
        sys.exit("make_docs: codec/ebcdic.cpp's table has %d entries, not 256" % len(values))
    return values


def shown(byte):
    """A JIS X 0201 byte as one terminal column: 5C is the yen sign there."""
    if byte == 0x20:
        return " "
    if byte == 0x5C:
        return "¥"
    return bytes([byte]).decode("cp932")


def byte_table():
    table = host_table()
    lines = ["```", "     0 1 2 3 4 5 6 7 8 9 A B C D E F"]
    first = next(row for row in range(16) if any(table[row * 16 + c] != 0x20 for c in range(16)))
    if first > 0:
        lines.append("00-%X  every byte gives a space" % (first * 16 - 1))
    for row in range(first, 16):
        cells = " ".join(shown(table[row * 16 + c]) for c in range(16))
        lines.append(("%Xx   " % row + cells).rstrip())
    lines.append("```")
    return "\n".join(lines)


def with_table(readme):
    begin, end = readme.find(TABLE_BEGIN), readme.find(TABLE_END)
    if begin < 0 or end < begin:
        sys.exit("make_docs: README.md lacks the byte table's marker lines")
    return readme[:begin + len(TABLE_BEGIN)] + "\n" + byte_table() + "\n" + readme[end:]


# --- Markdown to man(7) ---

def sections(readme):
    """{heading: lines} for every '## ' section, and the text before the first."""
    found, name, intro = {}, None, []
    in_code = False
    for line in readme.split("\n"):
        if line.startswith("```"):
            in_code = not in_code
        if not in_code and line.startswith("## "):
            name = line[3:].strip()
            found[name] = []
        elif name is None:
            intro.append(line)
        else:
            found[name].append(line)
    return intro[1:], found  # the first line is the title


def inline(text):
    text = text.replace("\\", "\\e")
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", text)  # links: their text
    text = re.sub(r"\*\*(.+?)\*\*", r"\\fB\1\\fR", text)
    text = re.sub(r"`([^`]+)`", r"\\fB\1\\fR", text)
    return text


def line_out(text):
    text = text.rstrip()
    return "\\&" + text if text[:1] in (".", "'") else text


def table_rows(lines):
    rows = [[c.strip() for c in line.strip().strip("|").split("|")] for line in lines]
    head, body = rows[0], [r for r in rows[1:] if not all(set(c) <= set("-: ") for c in r)]
    out = []
    for row in body:
        out += [".TP", line_out(inline(row[0]))]
        for title, cell in zip(head[1:], row[1:]):
            if cell:
                out += [line_out(inline(title + ": " + cell)), ".br"]
        if out[-1] == ".br":
            out.pop()
    return out


def to_man(lines):
    out, i = [], 0
    while i < len(lines):
        line = lines[i]
        if line.startswith("```"):
            j = lines.index("```", i + 1) if "```" in lines[i + 1:] else len(lines)
            out += [".PP", ".nf", ".RS 4"] + [line_out(l.replace("\\", "\\e")) for l in lines[i + 1:j]] + [".RE", ".fi"]
            i = j + 1
        elif line.startswith("### "):
            out += [".SS " + inline(line[4:].strip())]
            i += 1
        elif line.startswith("|"):
            j = i
            while j < len(lines) and lines[j].startswith("|"):
                j += 1
            out += table_rows(lines[i:j])
            i = j
        elif re.match(r"\s*([-*]|\d+\.) ", line):
            indent = len(line) - len(line.lstrip())
            item = [re.sub(r"^\s*([-*]|\d+\.) ", "", line)]
            i += 1
            while i < len(lines) and lines[i].strip() and not re.match(r"\s*([-*]|\d+\.) ", lines[i]) \
                    and not lines[i].startswith(("```", "|", "#")):
                item.append(lines[i].strip())
                i += 1
            out += [".IP \\(bu %d" % (2 if indent == 0 else 4)] if indent == 0 else [".RS 2", ".IP \\(bu 2"]
            out += [line_out(inline(" ".join(item)))]
            if indent:
                out += [".RE"]
        elif not line.strip() or line.strip().startswith("<!--"):
            i += 1
        else:
            para = []
            while i < len(lines) and lines[i].strip() and not lines[i].startswith(("```", "|", "#")) \
                    and not re.match(r"\s*([-*]|\d+\.) ", lines[i]) and not lines[i].strip().startswith("<!--"):
                para.append(lines[i].strip())
                i += 1
            out += [".PP", line_out(inline(" ".join(para)))]
    return out


def version():
    cmake = (ROOT / "CMakeLists.txt").read_text(encoding="utf-8")
    return re.search(r"VERSION (\d+\.\d+\.\d+)", cmake).group(1)


def man_page(name, page, readme):
    intro, found = sections(readme)
    title = name.split(".")[0].upper()
    out = ['.\\" Written by tools/make_docs.py from README.md: do not edit.',
           '.TH %s 1 "" "rekmo %s" "User Commands"' % (title, version()),
           ".SH NAME", page["name"], ".SH SYNOPSIS", page["synopsis"]]
    description = to_man(intro) if page["intro"] else []
    if description:
        out += [".SH DESCRIPTION"] + description
    for heading in page["sections"]:
        heading, title = heading if isinstance(heading, tuple) else (heading, inline(heading.upper()))
        if heading not in found:
            sys.exit("make_docs: README.md has no section '## %s'" % heading)
        out += [".SH " + title] + to_man(found[heading])
    out += [".SH SEE ALSO", page["see_also"]]
    return "\n".join(out) + "\n"


# --- Links and paths ---

def slug(heading):
    text = re.sub(r"`|\*\*", "", heading.strip().lower())
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def broken_references(path):
    text = path.read_text(encoding="utf-8")
    prose = re.sub(r"```.*?```", "", text, flags=re.S)
    anchors = {slug(h) for h in re.findall(r"^#+ (.+)$", prose, flags=re.M)}
    problems = []
    for target in re.findall(r"\]\(([^)\s]+)\)", prose):
        if re.match(r"[a-z]+:", target):
            continue
        file, _, anchor = target.partition("#")
        where = (path.parent / file) if file else path
        if file and not where.exists():
            problems.append("%s: link to missing %s" % (path.name, target))
        elif anchor and where.suffix == ".md":
            heads = re.sub(r"```.*?```", "", where.read_text(encoding="utf-8"), flags=re.S)
            if anchor not in {slug(h) for h in re.findall(r"^#+ (.+)$", heads, flags=re.M)}:
                problems.append("%s: link to missing heading %s" % (path.name, target))
    top = {p.name for p in ROOT.iterdir()}
    for name in re.findall(r"`([^`\s]+)`", prose):
        first = name.split("/")[0]
        if "/" in name and first in top and not re.search(r"[<>*]", name) and first != "build":
            if not (ROOT / name).exists():
                problems.append("%s: names missing path %s" % (path.name, name))
    return problems


# --- Build paths the README's commands name ---

PROGRAMS = {"rekmo", "rekmo-inspect", "rekmo-copybook", "convert_in_memory"}


def preset_builds():
    """Per workflow and build preset: (build folder, targets built; None for all)."""
    presets = json.loads((ROOT / "CMakePresets.json").read_text(encoding="utf-8"))
    configure = {p["name"]: p for p in presets.get("configurePresets", [])}

    def binary_dir(name):
        preset = configure[name]
        while "binaryDir" not in preset and preset.get("inherits"):
            parent = preset["inherits"]
            preset = configure[parent if isinstance(parent, str) else parent[0]]
        folder = preset.get("binaryDir", "")
        folder = folder.replace("${sourceDir}/", "").replace("${presetName}", name)
        return folder

    builds = {}
    for preset in presets.get("buildPresets", []):
        builds[preset["name"]] = (binary_dir(preset["configurePreset"]), preset.get("targets"))
    workflows = {}
    for flow in presets.get("workflowPresets", []):
        made = []
        for step in flow.get("steps", []):
            if step["type"] == "build":
                made.append(builds[step["name"]])
        workflows[flow["name"]] = made
    return builds, workflows


def made_by_steps(commands):
    """The build folders the README's commands make, with the targets each builds."""
    builds, workflows = preset_builds()
    made = {}

    def add(folder, targets):
        if folder in made and (made[folder] is None or targets is None):
            made[folder] = None
        else:
            made[folder] = None if targets is None else set(targets) | made.get(folder, set())

    scripts = set(re.findall(r"(?:^|\s)([\w./-]+\.sh)\b", commands))
    for script in scripts:
        path = ROOT / script
        if path.is_file():
            commands += "\n" + path.read_text(encoding="utf-8")
    for name in re.findall(r"--workflow --preset[ =]([\w-]+)", commands):
        for folder, targets in workflows.get(name, []):
            add(folder, targets)
    for name in re.findall(r"--build --preset[ =]([\w-]+)", commands):
        if name in builds:
            add(*builds[name])
    return made


def unmade_build_paths(readme):
    """README commands that name a build folder, or a program in one, that no
    step the README shows makes."""
    blocks = "\n".join(re.findall(r"```\w*\n(.*?)```", readme, flags=re.S))
    spans = "\n".join(re.sub(r"\s+", " ", span)
                      for span in re.findall(r"`([^`]+)`", re.sub(r"```.*?```", "", readme, flags=re.S)))
    commands = blocks + "\n" + spans
    made = made_by_steps(commands)
    problems = []
    for path in sorted(set(re.findall(r"\bbuild/[\w./-]+", commands))):
        parts = path.rstrip("/.").split("/")
        folder = "/".join(parts[:2])
        if folder not in made:
            problems.append("README.md: names %s, but no step the README shows makes %s" % (path, folder))
        elif made[folder] is not None and parts[-1] in PROGRAMS and parts[-1] not in made[folder]:
            problems.append("README.md: names %s, but the README's step for %s does not build %s" %
                            (path, folder, parts[-1]))
    for folder in sorted(set(re.findall(r"cmake --install (build/[\w-]+)", commands))):
        built = made.get(folder)
        wanted = set(re.findall(r"install\(TARGETS ([\w -]+?) RUNTIME",
                                (ROOT / "cmake/release.cmake").read_text(encoding="utf-8"))[0].split())
        if folder in made and built is not None and not wanted <= built:
            problems.append("README.md: cmake --install %s installs %s, which its step does not build" %
                            (folder, ", ".join(sorted(wanted - built))))
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--check", action="store_true", help="change nothing; exit 1 when anything is stale or broken")
    args = parser.parse_args()
    readme_path = ROOT / "README.md"
    readme = readme_path.read_text(encoding="utf-8")
    wanted = {readme_path: with_table(readme)}
    for name, page in PAGES.items():
        wanted[ROOT / "man" / name] = man_page(name, page, wanted[readme_path])
    problems = []
    for path, text in wanted.items():
        current = path.read_text(encoding="utf-8") if path.exists() else None
        if current == text:
            continue
        if args.check:
            problems.append("%s is not current: run tools/make_docs.py" % path.relative_to(ROOT))
        else:
            path.parent.mkdir(exist_ok=True)
            path.write_text(text, encoding="utf-8")
    for doc in [readme_path] + sorted((ROOT / "docs").glob("*.md")):
        problems += broken_references(doc)
    problems += unmade_build_paths(readme)
    for problem in problems:
        print(problem, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
