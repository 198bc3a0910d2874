"""Rewrites the golden files from the program, for a deliberate change of a
page: the review is then `git diff tests/golden`.
  rewrite.py PROGRAM ROOT     PROGRAM: the suites' build of the program, whose board is ROOT
                              (scripts/test --rewrite-golden passes build/test's)

Each file keeps its comments, includes and {KEY} lines; only its lines of
plain text follow the program. A line the program still writes keeps its
place; new text is broken before each tag and after each line feed. A
{KEY} line that changed must be changed by hand: the rewrite then stops
and says which file.
"""

import difflib
import os
import re
import shutil
import subprocess
import sys

GOLDEN = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(GOLDEN, "..", "..", "scripts", "pylib"))
import pages  # noqa: E402

# The document's head, after the CGI header (header.txt, as HEAD gets it).
DOC_OPEN = f"<HTML><HEAD><TITLE>{pages.TITLE}</TITLE></HEAD>"
CLOSE = "</BODY></HTML>"
# The listing page lists this one line, as the program indents it.
LISTED = "        golden listing\n"
# The form shows these settings; none of them needs escaping.
FORM = {"OPTIONS": "<OPTION> Static IP Address<OPTION> Dynamic IP Address"}
FORM.update({name: "golden-" + name.lower() for name in pages.TEXT_FIELDS})
# What a browser sends with a save from the board's own page.
OWN_PAGE = {
    "HTTP_HOST": "127.0.0.1:8080",
    "HTTP_REFERER": "http://127.0.0.1:8080/cgi-bin/northbeam?rc=1&index_link=Wan+Lan+Setting",
    "SCRIPT_NAME": "/cgi-bin/northbeam",
}


class Unsolved(Exception):
    pass


def read(name):
    with open(os.path.join(GOLDEN, name + ".txt")) as f:
        return f.read().splitlines()


def is_text(line):
    """A line of plain text: no comment, include or {KEY}."""
    return bool(line) and line[0] not in "#@" and not re.search(r"\{[^}]*\}", line)


def fill(line, values):
    """A text or {KEY} line as the suites' harness reads it."""
    line = line.replace("\\n", "\n")
    return re.sub(r"\{([^}]*)\}", lambda m: values[m.group(1)], line)


def expand(name, values):
    """The file's text as the suites' harness reads it."""
    text = ""
    for line in read(name):
        if not line or line[0] == "#":
            continue
        text += expand(line[1:], values) if line[0] == "@" else fill(line, values)
    return text


def parts(name):
    """The file as a list of parts: ("text", lines), ("include", name) or ("key", line)."""
    out = []
    for line in read(name):
        if is_text(line):
            if out and out[-1][0] == "text":
                out[-1][1].append(line)
            else:
                out.append(("text", [line]))
        elif line.startswith("@"):
            out.append(("include", line[1:]))
        elif line and line[0] != "#":
            out.append(("key", line))
    return out


def solve(name, target, values, solved):
    """Finds the new text of each plain-text run and each include not yet
    solved, such that the file reads as target."""
    pattern = ""
    unknown = []
    for kind, what in parts(name):
        if kind == "key":
            pattern += re.escape(fill(what, values))
        elif kind == "include" and what in solved:
            pattern += re.escape(solved[what])
        else:
            pattern += "(.*)"
            unknown.append((kind, what))
    found = re.fullmatch(pattern, target, re.S)
    if found is None:
        raise Unsolved(f"{name}.txt: a line with a {{KEY}} changed; change it by hand")
    runs = []
    for (kind, what), text in zip(unknown, found.groups()):
        if kind == "include":
            solved[what] = text
        else:
            runs.append((what, text))
    return runs


def split(old_lines, new):
    """new as lines: the old lines' breaks where the text is unchanged, and a
    break before each tag and after each line feed in new text."""
    old = "".join(line.replace("\\n", "\n") for line in old_lines)
    breaks = set()
    at = 0
    old_breaks = []
    for line in old_lines:
        at += len(line.replace("\\n", "\n"))
        old_breaks.append(at)
    tags = [m.start() for m in re.finditer(r"(?<=>)\s*<", new)]
    tags += [m.end() for m in re.finditer("\n", new)]
    matcher = difflib.SequenceMatcher(None, old, new, autojunk=False)
    for op, i1, i2, j1, j2 in matcher.get_opcodes():
        if op == "equal":
            breaks.update(j1 + b - i1 for b in old_breaks if i1 <= b <= i2)
        else:
            breaks.update(p for p in tags if j1 <= p <= j2)
    # A line feed ends its line: none starts one but a blank line's.
    breaks = {b for b in breaks if not (new[b : b + 1] == "\n" and new[b - 1 : b] != "\n")}
    cuts = sorted(b for b in breaks if 0 < b < len(new)) + [len(new)]
    lines = []
    start = 0
    for cut in cuts:
        if cut > start:
            lines.append(new[start:cut].replace("\n", "\\n"))
            start = cut
    return lines


def as_keys(line):
    """A new line of text with each settings value the board was laid with
    as its {KEY}: a field new to the form is then filled by each case, as
    the others are."""
    for name in pages.TEXT_FIELDS:
        line = line.replace(f'"{FORM[name]}"', f'"{{{name}}}"')
    return line


def rewrite(name, runs):
    """Writes the file with each plain-text run replaced by its new lines."""
    out = []
    old = read(name)
    new_runs = iter(runs)
    i = 0
    while i < len(old):
        if not is_text(old[i]):
            out.append(old[i])
            i += 1
            continue
        old_lines, new = next(new_runs)
        out += [as_keys(line) for line in split(old_lines, new)]
        i += len(old_lines)
    with open(os.path.join(GOLDEN, name + ".txt"), "w") as f:
        f.write("".join(line + "\n" for line in out))


def answer(program, query, extra=None):
    env = dict(PATH="/usr/bin:/bin", REQUEST_METHOD="GET", QUERY_STRING=query)
    env.update(extra or {})
    return subprocess.run([program], env=env, capture_output=True, check=True, timeout=30).stdout


def lay_board(root):
    """The board the pages are read from: a one-line CPU file, the form's
    settings, and a Configure that does nothing."""
    if not root.endswith("/root"):
        raise SystemExit(f"not a test board: {root}")
    shutil.rmtree(root, ignore_errors=True)
    for sub in ("proc", "sbin", "tmp", "etc"):
        os.makedirs(os.path.join(root, sub))
    with open(os.path.join(root, "proc", "cpuinfo"), "w") as f:
        f.write(LISTED.strip() + "\n")
    with open(os.path.join(root, "tmp", "config.out"), "w") as f:
        f.write("WAN_STATICIP=y\n")
        f.write("".join(f'{k}="{v}"\n' for k, v in FORM.items() if k != "OPTIONS"))
    configure = os.path.join(root, "etc", "Configure")
    with open(configure, "w") as f:
        f.write("#!/bin/sh\nexit 0\n")
    os.chmod(configure, 0o755)


def page(text, name, header):
    """The framed page inside the document shell, after the CGI header."""
    head = header + DOC_OPEN + "<BODY>"
    if not (text.startswith(head) and text.endswith(CLOSE)):
        raise Unsolved(f"{name}: the document shell changed; change tests/harness.cpp by hand")
    return text[len(head) : -len(CLOSE)]


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    program, root = argv
    lay_board(os.path.abspath(root))
    save = "rc=2&WAN_STATICIP=Static+IP+Address&DNS1=10.0.0.2"
    wait = answer(program, save, OWN_PAGE).decode("latin-1")
    # The pages read the board's settings; the save has replaced them.
    lay_board(os.path.abspath(root))
    listing = answer(program, pages.query("CPU_Info")).decode("latin-1")
    home = answer(program, pages.query(pages.HOME)).decode("latin-1")
    form = answer(program, pages.query(pages.FORM)).decode("latin-1")
    # HEAD gets the header alone: the one every answer starts with.
    header = answer(program, pages.query(pages.HOME), {"REQUEST_METHOD": "HEAD"})
    header = header.decode("latin-1")
    solved = {}
    try:
        # The listing first: it gives the frame around every page.
        todo = [
            ("header", header, {}),
            ("listing", page(listing, "listing", header), {"LISTING": LISTED}),
            ("frame_open", None, {}),
            ("frame_close", None, {}),
            ("hardware", page(home, "home", header), {}),
            ("wanlan", page(form, "form", header), FORM),
        ]
        if not wait.startswith(header + DOC_OPEN + "<BODY>"):
            raise Unsolved("wait: the document shell changed; change tests/harness.cpp by hand")
        todo.append(("wait", wait[len(header + DOC_OPEN + "<BODY>") :], {}))
        runs = {}
        for name, target, values in todo:
            if target is None:
                target = solved[name]
            runs[name] = (solve(name, target, values, solved), target, values)
    except Unsolved as e:
        print(f"rewrite.py: {e}", file=sys.stderr)
        return 1
    for name, (found, _, _) in runs.items():
        rewrite(name, found)
    for name, (_, target, values) in runs.items():
        if expand(name, values) != target:
            print(
                f"rewrite.py: {name}.txt does not read back as the program's text", file=sys.stderr
            )
            return 1
    print("golden files rewritten from", program, "- review them with: git diff tests/golden")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
