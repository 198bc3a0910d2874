"""The project's own files as its tools lay them out:
  lint.py clang-format SOURCE   every C and C++ file as the committed .clang-format has it
  lint.py shellcheck SOURCE     every shell script clean under shellcheck
  lint.py python SOURCE         every Python file clean under pyflakes
  lint.py black SOURCE          every Python file as black lays it out (pyproject.toml)
  lint.py shfmt SOURCE          every shell script as shfmt -i 2 -ci lays it out
"""

import os
import subprocess
import sys


def tracked(source):
    out = subprocess.run(["git", "-C", source, "ls-files", "-z", "--cached", "--others", "--exclude-standard"], check=True, capture_output=True).stdout
    return [os.path.join(source, p) for p in out.decode().split("\0") if p]


def is_shell(path):
    if path.endswith(".sh"):
        return True
    try:
        with open(path, "rb") as f:
            first = f.readline(128)
    except OSError:
        return False
    return first.startswith(b"#!") and any(sh in first for sh in (b"/sh", b"bash", b"dash"))


def check(tool, files):
    if not files:
        print(f"{tool[0]}: no files")
        return 1
    done = subprocess.run(tool + files)
    print(f"{tool[0]}: {len(files)} files, {'clean' if done.returncode == 0 else 'NOT clean'}")
    return done.returncode


def main(argv):
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    kind, source = argv
    files = [p for p in tracked(source) if os.path.isfile(p)]
    if kind == "clang-format":
        c = [p for p in files if p.endswith((".c", ".h", ".cpp", ".hpp"))]
        return check(["clang-format", "--dry-run", "--Werror"], c)
    if kind == "shellcheck":
        return check(["shellcheck", "-x"], [p for p in files if is_shell(p)])
    if kind == "python":
        return check(["/usr/bin/python3", "-m", "pyflakes"], [p for p in files if p.endswith(".py")])
    if kind == "black":
        return check(["black", "--check", "--quiet"], [p for p in files if p.endswith(".py")])
    if kind == "shfmt":
        # The scripts' own layout: two spaces, case items indented.
        return check(["shfmt", "-i", "2", "-ci", "-d"], [p for p in files if is_shell(p)])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
