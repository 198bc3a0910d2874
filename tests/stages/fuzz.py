"""The libFuzzer targets of fuzz/ (clang, AddressSanitizer, UndefinedBehaviorSanitizer):
  fuzz.py build SOURCE DIR                 configures and builds them in DIR
  fuzz.py run SOURCE DIR TARGET SECONDS    runs one from its seeds for SECONDS; fails on a finding,
                                           which is kept in DIR/findings (replay: DIR/fuzz_TARGET FILE)
The dictionary is fuzz/northbeam.dict with the page names and settings of the
build's facts (pages.py).
"""

import json
import os
import re
import subprocess
import sys

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib")
)
import pages  # noqa: E402

JOBS = str(os.cpu_count() or 2)


def build(source, build_dir):
    for args in (
        [
            "cmake",
            "-S",
            os.path.join(source, "fuzz"),
            "-B",
            build_dir,
            "-DCMAKE_CXX_COMPILER=clang++",
        ],
        ["cmake", "--build", build_dir, "-j", JOBS],
    ):
        if subprocess.run(args).returncode != 0:
            return 1
    return 0


def dictionary(source, build_dir, target):
    """fuzz/northbeam.dict and the program's request names, page names and
    settings, as one dictionary file of target's in build_dir."""
    words = [pages.FACTS["index_link"] + "="] + [p["value"] for p in pages.FACTS["pages"]]
    words += pages.VALUES + [f["name"] + "=" for f in pages.FIELDS]
    path = os.path.join(build_dir, f"{target}.dict")
    with open(os.path.join(source, "fuzz", "northbeam.dict")) as f:
        text = f.read()
    with open(path, "w") as f:
        f.write(text + "".join(json.dumps(w) + "\n" for w in dict.fromkeys(words)))
    return path


def run(source, build_dir, target, seconds):
    # New inputs go to the build folder; the committed seeds stay as they are.
    work = os.path.join(build_dir, "work", target)
    findings = os.path.join(build_dir, "findings")
    os.makedirs(work, exist_ok=True)
    os.makedirs(findings, exist_ok=True)
    args = [
        os.path.join(build_dir, f"fuzz_{target}"),
        f"-max_total_time={seconds}",
        "-timeout=10",
        "-print_final_stats=1",
        f"-dict={dictionary(source, build_dir, target)}",
        f"-artifact_prefix={findings}/{target}-",
        work,
        f"{source}/fuzz/corpus/{target}",
    ]
    if target == "listing":
        args.insert(1, "-max_len=12000")  # lines longer than the line buffer, many of them
    env = dict(os.environ, ASAN_OPTIONS="detect_leaks=1")
    done = subprocess.run(args, env=env, capture_output=True, text=True, errors="replace")
    log = done.stdout + done.stderr
    with open(os.path.join(build_dir, f"{target}.log"), "w") as f:
        f.write(log)
    execs = re.search(r"^stat::number_of_executed_units: (\d+)", log, re.M)
    print(f"fuzz {target}: {execs.group(1) if execs else '?'} executions in {seconds} s")
    if done.returncode != 0:
        print(log[-4000:])
        print(f"fuzz {target}: FINDING, kept in {findings}/", file=sys.stderr)
    return done.returncode


def main(argv):
    if len(argv) == 3 and argv[0] == "build":
        return build(argv[1], argv[2])
    if len(argv) == 5 and argv[0] == "run":
        return run(argv[1], argv[2], argv[3], argv[4])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
