"""Configure's table: what it takes as the settings file, whose the file is
after it ran, and its run folder, one named row each, run as root by
configure-rows.sh against a Configure. The board stage runs the rows on the
emulated board against its /etc/Configure (board.py, row configure); this
runs them on this machine under Debian's dash and coreutils:

  configure.py host STATE    board/Configure in a scratch root below STATE,
                             its names at the top pointed there, with
                             stand-in ifconfig, route and udhcpc

A row prints a line for each check that fails; the run exits 1 when one did.
"""

import os
import pwd
import re
import shutil
import subprocess
import sys

STAGES = os.path.dirname(os.path.abspath(__file__))
TOP = os.path.dirname(os.path.dirname(STAGES))
ROWS_SCRIPT = os.path.join(STAGES, "configure-rows.sh")
# The user a Debian web server runs as; on the board, root.
WEB_USER = "www-data"
# A Configure that hangs on the file it is given is cut off at 15 s; one
# that refuses it answers within this.
ANSWERS_WITHIN = 5.0


class Refused:
    """Applies nothing, logs why, exits non-zero, and puts the running
    settings back, owned by the web server's user."""

    def __init__(self, why):
        self.why = why


class Taken:
    """Applies the file: eth1 gets its address."""


class Booted:
    """Boot succeeds: the run folder is root's, mode 700, and the settings
    file is the web server's user's."""


# Each row: name, the web server's user Configure names, what stands at the
# settings path, how Configure runs, and what must come of it. Rows run in
# order: the first boot gives the later ones settings to put back.
ROWS = [
    ("boot", "root", "good", "boot", Booted()),
    ("link", "root", "link", "apply", Refused("is a link: not applied")),
    ("fifo", "root", "fifo", "apply", Refused("is not a regular file: not applied")),
    ("foreign_owner", "root", "foreign", "apply", Refused("belongs to uid 1000")),
    ("size_4097", "root", "size-4097", "apply", Refused("holds more than 4096 bytes")),
    ("sparse_2M", "root", "sparse-2M", "apply", Refused("holds more than 4096 bytes")),
    ("size_4096", "root", "size-4096", "apply", Taken()),
    ("web_users_file", WEB_USER, "web-user", "apply", Taken()),
    ("web_users_boot", WEB_USER, "good", "boot", Booted()),
    ("web_users_put_back", WEB_USER, "refused-values", "apply", Refused("is not an IPv4 address")),
    ("foreign_for_web_user", WEB_USER, "foreign", "apply", Refused("belongs to uid 1000")),
    ("boot_without_run_folder", "root", "good", "boot-no-run", Booted()),
]


def report_of(text):
    """The row script's report: its name=value lines, and the log's lines."""
    report = {"log": []}
    for line in text.splitlines():
        if line.startswith("log: "):
            report["log"].append(line[5:])
        else:
            name, _, value = line.partition("=")
            report[name] = value
    return report


def judge(name, address, report, expect, check):
    """The checks of one row on its report."""
    log = "\n".join(report["log"])
    status = int(report.get("status", "-1"))
    seconds = int(report.get("centiseconds", "0")) / 100
    settings = report.get("settings", "").split()
    web_uid = report.get("web_uid")
    check(
        f"{name}: Configure ended within {ANSWERS_WITHIN} s",
        seconds <= ANSWERS_WITHIN,
        f"{seconds} s",
    )
    check(f"{name}: no own folder left beside the settings", "own_folder" not in report)
    check(
        f"{name}: nothing larger than 4097 bytes in the run folder",
        int(report.get("largest") or 0) <= 4097,
        report.get("largest"),
    )
    if "target" in report:
        check(f"{name}: the link's target is unchanged", report["target"] == "unchanged")
    if isinstance(expect, Refused):
        check(f"{name}: exits non-zero", status != 0, f"status {status}")
        check(f"{name}: applies nothing", report.get("eth1") != address, report.get("eth1"))
        check(f"{name}: logs why ({expect.why})", expect.why in log, log)
        check(f"{name}: logs that nothing was applied", "nothing applied" in log, log)
        check(
            f"{name}: the settings file is put back, the web server's user's, with what eth1 runs",
            settings == ["file", web_uid, report.get("eth1")],
            f"{settings}, eth1 {report.get('eth1')}",
        )
    elif isinstance(expect, Taken):
        check(
            f"{name}: eth1 runs the file's address",
            report.get("eth1") == address,
            report.get("eth1"),
        )
        check(f"{name}: logs no refusal", "not applied" not in log, log)
    else:
        check(f"{name}: exits 0", status == 0, f"status {status}: {log}")
        check(
            f"{name}: the run folder is root's, mode 700",
            report.get("run") == "0:700",
            report.get("run"),
        )
        check(
            f"{name}: the settings file is the web server's user's",
            settings[:2] == ["file", web_uid],
            f"{settings}",
        )


def run_rows(run, check):
    """Every row: run(web_user, plant, action, address) gives the row
    script's output."""
    for k, (name, web_user, plant, action, expect) in enumerate(ROWS):
        address = f"10.0.2.{30 + k}"
        report = report_of(run(web_user, plant, action, address))
        print(
            f"configure {name}: status {report.get('status')}, "
            f"{int(report.get('centiseconds', '0')) / 100} s, eth1 {report.get('eth1')}, "
            f"settings {report.get('settings')}",
            flush=True,
        )
        judge(name, address, report, expect, check)


# The names at Configure's top that lead to this machine's files, each
# pointed into the scratch root.
SCRATCH_NAMES = {
    "PATH": "{root}/bin:/sbin:/usr/sbin:/bin:/usr/bin",
    "SELF": "{root}/Configure",
    "SETTINGS": "{root}/settings/config.out",
    "FACTORY": "{root}/etc/config.factory",
    "RESOLV": "{root}/etc/resolv.conf",
    "RUN": "{root}/run/northbeam",
    "LOG": "{root}/log/configure.log",
    "CONSOLE": "{root}/console",
    "FLASH": "{root}/flash",
}


def scratch_root(state):
    """A scratch root for Configure on this machine: its copy under dash,
    the settings folder, the factory settings, two empty flash slots and
    the stand-ins."""
    root = os.path.join(state, "configure-host")
    shutil.rmtree(root, ignore_errors=True)
    for folder in ("bin", "settings", "run/northbeam", "log", "flash", "etc", "state"):
        os.makedirs(os.path.join(root, folder))
    os.chmod(os.path.join(root, "run", "northbeam"), 0o700)
    # The settings folder as the Debian package makes it: the web server's
    # user's, mode 755 (the board's is /tmp).
    web = pwd.getpwnam(WEB_USER)
    os.chown(os.path.join(root, "settings"), web.pw_uid, web.pw_gid)
    with open(os.path.join(TOP, "board", "Configure")) as f:
        text = f.read()
    for name, value in SCRATCH_NAMES.items():
        text, found = re.subn(f"^{name}=.*$", f"{name}={value.format(root=root)}", text, flags=re.M)
        if found != 1:
            raise RuntimeError(f"Configure names {name} {found} times at its top, not once")
    # No path of the machine's own may be left on another line.
    rest = "\n".join(
        line for line in text.splitlines() if line.partition("=")[0] not in SCRATCH_NAMES
    )
    for path in ("/tmp/config.out", "/var/run", "/var/log", "/dev/console", "/flash"):
        if path in rest:
            raise RuntimeError(f"the scratch Configure still names {path}")
    configure = os.path.join(root, "Configure")
    with open(configure, "w") as f:
        f.write(text.replace("#!/bin/sh", "#!/usr/bin/dash", 1))
    os.chmod(configure, 0o700)
    shutil.copy(os.path.join(TOP, "board", "config.factory"), os.path.join(root, "etc"))
    for slot in ("settings.0", "settings.1"):
        with open(os.path.join(root, "flash", slot), "wb") as f:
            f.write(bytes(4096))
    for command in ("ifconfig", "route", "udhcpc"):
        os.symlink(os.path.join(STAGES, "configure-standin"), os.path.join(root, "bin", command))
    return root, configure


def host(state):
    failures = []

    def check(what, ok, detail=""):
        if not ok:
            failures.append(what)
            print(f"FAIL {what}" + (f": {detail}" if detail else ""), flush=True)

    root, configure = scratch_root(state)
    env = dict(os.environ, PATH=f"{root}/bin:/usr/sbin:/usr/bin:/sbin:/bin")

    def run(web_user, plant, action, address):
        done = subprocess.run(
            ["dash", ROWS_SCRIPT, configure, web_user, plant, action, address],
            env=env,
            capture_output=True,
            text=True,
            timeout=60,
        )
        if done.returncode != 0:
            print(done.stderr, file=sys.stderr)
        return done.stdout

    run_rows(run, check)
    print(f"configure on this machine: {len(ROWS)} rows, {len(failures)} failed checks")
    return 1 if failures else 0


def main(argv):
    if len(argv) == 2 and argv[0] == "host":
        return host(argv[1])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
