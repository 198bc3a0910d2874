"""The Debian package, built and proved the way a board's owner uses it, in
fresh Debian 12 systems made by mmdebstrap from this machine's Debian
package sources:
  package.py DIR systems             the fresh systems as tarballs in DIR/systems, made
                                     again once a day
  package.py DIR build ARCH          northbeam_VERSION_ARCH.deb into DIR/ARCH, built in the
                                     build system: amd64 with the suites, armhf and arm64
                                     cross-built; the program must need only the C library
  package.py DIR lintian ARCH        lintian on it: no error and no warning
  package.py DIR piuparts            install, remove and purge over a fresh minimal base
  package.py DIR start SERVER        a fresh web system with the amd64 package installed by
                                     apt, SERVER (apache or lighttpd) in it on a free port
  package.py DIR check SERVER CHECK  one check of the table through SERVER
  package.py DIR remove apache       apt-get remove, then purge, in the system Apache runs in
  package.py DIR stop SERVER         stops SERVER and everything else in its namespaces
  package.py DIR list servers|checks the names, for CTest
Runs as root: the systems are unpacked and entered with chroot, in mount and
PID namespaces of their own (tests/stages/package-root).
"""

import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "pylib"))
import nbtest  # noqa: E402
import pages  # noqa: E402
import standin  # noqa: E402
import web  # noqa: E402

SOURCE = standin.SOURCE
ROOT_RUNNER = os.path.join(SOURCE, "tests", "stages", "package-root")
NATIVE = subprocess.run(
    ["dpkg", "--print-architecture"], capture_output=True, text=True
).stdout.strip()
CROSS = ["armhf", "arm64"]
# Each architecture's ELF machine, and the C library's dynamic loader that
# its programs start with: armhf's is not armel's, whose programs do not
# start on an armhf system. With Debian's stack protector, ARM programs
# also name the loader among their libraries (it holds the guard value).
MACHINE = {"amd64": "Advanced Micro Devices X86-64", "armhf": "ARM", "arm64": "AArch64"}
LOADER = {
    "amd64": "/lib64/ld-linux-x86-64.so.2",
    "armhf": "/lib/ld-linux-armhf.so.3",
    "arm64": "/lib/ld-linux-aarch64.so.1",
}
EF_ARM_ABI_FLOAT_HARD = "hard-float ABI"
DAY = 24 * 3600
ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8", "HOME": "/root"}

# Each fresh system: its tarball and what mmdebstrap puts in it. piuparts
# unpacks its base with tar -z. The build system is a cross builder's: each
# board's C library of its own architecture, for dpkg-shlibdeps.
SYSTEMS = {
    "base": ("base.tar.gz", ["--variant=minbase"]),
    "web": ("web.tar", ["--variant=apt", "--include=apache2,lighttpd"]),
    "build": (
        "build.tar",
        [
            "--variant=apt",
            "--architectures=" + ",".join([NATIVE] + CROSS),
            "--include=build-essential,debhelper,cmake,apache2-dev,libgtest-dev,"
            + ",".join(f"crossbuild-essential-{arch},libc6-dev:{arch}" for arch in CROSS),
        ],
    ),
}
HEADERS = {
    "content-security-policy": "default-src 'self'; frame-ancestors 'none'",
    "x-frame-options": "DENY",
    "x-content-type-options": "nosniff",
    "referrer-policy": "same-origin",
}
# The log that the stand-in Configure writes, in the web system.
STANDIN_LOG = "/var/log/configure.log"


class Failed(Exception):
    pass


def run(*args, **kwargs):
    print("+ " + " ".join(args), flush=True)
    done = subprocess.run(args, **kwargs)
    if done.returncode != 0:
        raise Failed(f"{args[0]} exited with {done.returncode}")
    return done


def version():
    with open(os.path.join(SOURCE, "CMakeLists.txt")) as f:
        return re.search(r"project\(northbeam VERSION (\S+)", f.read()).group(1)


def deb_name(arch):
    return f"northbeam_{version()}_{arch}.deb"


def debian_sources():
    """This machine's apt source files that name Debian's archive (its other
    sources need keys that a fresh system lacks)."""
    files = ["/etc/apt/sources.list"] + sorted(
        glob.glob("/etc/apt/sources.list.d/*.list") + glob.glob("/etc/apt/sources.list.d/*.sources")
    )
    found = []
    for path in files:
        if os.path.isfile(path):
            with open(path) as f:
                if "/debian" in f.read():
                    found.append(path)
    return found


def in_root(root, *command, board=None, env=None, **kwargs):
    """Runs command in the system unpacked at root, in namespaces of its own."""
    args = ["unshare", "--mount", "--pid", "--fork", "--kill-child", ROOT_RUNNER, root]
    if board:
        args += ["--board", board]
    return subprocess.run(args + list(command), env=env or ENV, **kwargs)


def unpack(dir_, system, where):
    """A fresh copy of a system at where, its services kept from starting."""
    if os.path.isdir(where):
        shutil.rmtree(where)
    os.makedirs(where)
    run(
        "tar",
        "-C",
        where,
        "--numeric-owner",
        "-xf",
        os.path.join(dir_, "systems", SYSTEMS[system][0]),
    )
    policy = os.path.join(where, "usr", "sbin", "policy-rc.d")
    with open(policy, "w") as f:
        f.write("#!/bin/sh\nexit 101\n")
    os.chmod(policy, 0o755)


# ---- the fresh systems ---------------------------------------------------


def systems(dir_):
    folder = os.path.join(dir_, "systems")
    os.makedirs(folder, exist_ok=True)
    sources = debian_sources()
    if not sources:
        raise Failed("this machine's apt sources name no Debian archive")
    for name, (tarball, options) in SYSTEMS.items():
        path = os.path.join(folder, tarball)
        if os.path.exists(path) and time.time() - os.path.getmtime(path) < DAY:
            print(f"{name}: {path} (made {time.ctime(os.path.getmtime(path))})")
            continue
        began = time.monotonic()
        partial = path + ".new" + (".tar.gz" if tarball.endswith(".gz") else ".tar")
        run("mmdebstrap", "--quiet", *options, "bookworm", partial, *sources)
        os.replace(partial, path)
        print(f"{name}: {path} made in {time.monotonic() - began:.0f} s")
    return 0


# ---- the packages --------------------------------------------------------


def source_files():
    """The source tree's files that git tracks or would (as the lint stage
    takes them), or every file but the builds."""
    done = subprocess.run(
        ["git", "-C", SOURCE, "ls-files", "-z", "--cached", "--others", "--exclude-standard"],
        capture_output=True,
    )
    if done.returncode == 0:
        return [name for name in done.stdout.decode().split("\0") if name]
    skip = {"build", ".git", "node_modules"}
    found = []
    for top, dirs, files in os.walk(SOURCE):
        dirs[:] = [d for d in dirs if d not in skip]
        found += [os.path.relpath(os.path.join(top, name), SOURCE) for name in files]
    return found


def check_elf(program, arch):
    header = run("readelf", "-h", program, capture_output=True, text=True).stdout
    machine = re.search(r"Machine:\s+(.*)", header).group(1).strip()
    if machine != MACHINE[arch]:
        raise Failed(f"{program} is for {machine}, not {MACHINE[arch]}")
    if arch == "armhf" and EF_ARM_ABI_FLOAT_HARD not in header:
        raise Failed(f"{program} is not built for the hard-float ABI")
    segments = run("readelf", "-l", program, capture_output=True, text=True).stdout
    loader = re.search(r"Requesting program interpreter: (\S+)\]", segments).group(1)
    if loader != LOADER[arch]:
        raise Failed(f"{program} starts with {loader}, not {arch}'s {LOADER[arch]}")
    needed = nbtest.elf_needed(program)
    print(f"{program}: {machine}, loader {loader}, needs {' '.join(needed)}")
    if "libc.so.6" not in needed or set(needed) - {"libc.so.6", os.path.basename(loader)}:
        raise Failed(f"{program} must need only the C library, not: {' '.join(needed)}")


def build(dir_, arch):
    root = os.path.join(dir_, "build-root")
    unpack(dir_, "build", root)
    tree = os.path.join(root, "build", "northbeam")
    for name in source_files():
        target = os.path.join(tree, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(SOURCE, name), target, follow_symlinks=False)
    options = ["parallel=2"]
    command = ["dpkg-buildpackage", "-us", "-uc", "-b"]
    if arch != NATIVE:
        options.append("nocheck")
        command += ["-a", arch, "-Pcross,nocheck"]
    env = dict(ENV, DEB_BUILD_OPTIONS=" ".join(options))
    done = in_root(root, "env", "--chdir=/build/northbeam", *command, env=env)
    if done.returncode != 0:
        raise Failed(f"dpkg-buildpackage for {arch} exited with {done.returncode}")
    out = os.path.join(dir_, arch)
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    built = os.path.join(root, "build", deb_name(arch))
    shutil.copy(built, out)
    shutil.rmtree(root)
    deb = os.path.join(out, deb_name(arch))
    unpacked = os.path.join(out, "unpacked")
    run("dpkg-deb", "-x", deb, unpacked)
    check_elf(os.path.join(unpacked, "usr", "lib", "cgi-bin", "northbeam"), arch)
    print(f"{deb}: {os.path.getsize(deb)} bytes")
    return 0


def lintian(dir_, arch):
    deb = os.path.join(dir_, arch, deb_name(arch))
    done = run(
        "lintian",
        "--fail-on",
        "error,warning",
        "--display-info",
        deb,
        capture_output=True,
        text=True,
        check=False,
    )
    print(done.stdout + done.stderr, end="")
    print(f"lintian {deb_name(arch)}: {len(done.stdout.splitlines())} lines")
    return 0


def piuparts(dir_):
    deb = os.path.join(dir_, NATIVE, deb_name(NATIVE))
    base = os.path.join(dir_, "systems", SYSTEMS["base"][0])
    log = os.path.join(dir_, "piuparts.log")
    run("piuparts", "--distribution=bookworm", "--basetgz", base, "--logfile", log, deb)
    with open(log) as f:
        print("".join(f.readlines()[-5:]), end="")
    return 0


# ---- the package served from a fresh system ------------------------------

# Each server: how its own configuration is pointed at the port, and the
# command that runs it in the foreground.
SERVERS = {
    "apache": ["apache2ctl", "-DFOREGROUND"],
    "lighttpd": ["lighttpd", "-D", "-f", "/etc/lighttpd/lighttpd.conf"],
}
STANDIN = standin.STANDIN
PROGRAM = "/usr/lib/cgi-bin/northbeam"


class System(web.Stage):
    """A server's fresh system, seen by the web stage's checks as its board:
    the settings file and the stand-in Configure's log are the system's."""

    def __init__(self, dir_, server):
        super().__init__(dir_)
        self.root = os.path.join(self.run_dir(server), "root")
        self.settings = os.path.join(self.root, "tmp", "config.out")
        self.log = self.root + STANDIN_LOG

    def direct(self, query, extra=None):
        """The body the installed program writes when run directly in the
        system as the web server's user, for QUERY (None: none at all)."""
        env = dict(web.ENV, REQUEST_METHOD="GET", **(extra or {}))
        if query is not None:
            env["QUERY_STRING"] = query
        done = in_root(
            self.root,
            "setpriv",
            "--reuid=www-data",
            "--regid=www-data",
            "--clear-groups",
            "env",
            "-i",
            *[f"{k}={v}" for k, v in env.items()],
            PROGRAM,
            board=STANDIN,
            capture_output=True,
            timeout=20,
        )
        return done.stdout.split(b"\n\n", 1)[-1]


def www_data(root):
    with open(os.path.join(root, "etc", "passwd")) as f:
        for line in f:
            fields = line.split(":")
            if fields[0] == "www-data":
                return int(fields[2]), int(fields[3])
    raise Failed("the fresh system has no www-data")


def listen_on(root, server, port):
    """Points the system's own server configuration at 127.0.0.1:port."""
    if server == "apache":
        with open(os.path.join(root, "etc", "apache2", "ports.conf"), "w") as f:
            f.write(f"Listen 127.0.0.1:{port}\n")
        return
    conf = os.path.join(root, "etc", "lighttpd", "lighttpd.conf")
    with open(conf) as f:
        text = f.read()
    text, count = re.subn(
        r"(?m)^server\.port\s*=.*$", f'server.port = {port}\nserver.bind = "127.0.0.1"', text
    )
    if count != 1:
        raise Failed(f"{conf} sets no server.port")
    with open(conf, "w") as f:
        f.write(text)


def start(dir_, server):
    system = System(dir_, server)
    folder = system.run_dir(server)
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    unpack(dir_, "web", system.root)
    # The board's Configure, a stand-in, placed as an integrator would.
    with open(os.path.join(system.root, "etc", "Configure"), "w") as f:
        f.write(standin.configure_text("/", STANDIN_LOG, standin.PAUSE["web"]))
    os.chmod(os.path.join(system.root, "etc", "Configure"), 0o755)
    open(system.log, "w").close()
    os.chown(system.log, *www_data(system.root))
    # As an owner installs it.
    deb = deb_name(NATIVE)
    shutil.copy(os.path.join(dir_, NATIVE, deb), os.path.join(system.root, "root"))
    env = dict(ENV, DEBIAN_FRONTEND="noninteractive")
    done = in_root(
        system.root,
        "apt-get",
        "install",
        "-y",
        "-q",
        "--no-install-recommends",
        "/root/" + deb,
        env=env,
    )
    if done.returncode != 0:
        raise Failed(f"apt-get install ./{deb} exited with {done.returncode}")
    if server == "lighttpd":
        in_root(system.root, "lighty-enable-mod", "cgi", "northbeam", check=True)
    port = nbtest.free_port()
    listen_on(system.root, server, port)
    with open(os.path.join(folder, "server.log"), "ab") as out:
        p = subprocess.Popen(
            [
                "unshare",
                "--mount",
                "--pid",
                "--fork",
                "--kill-child",
                ROOT_RUNNER,
                system.root,
                "--board",
                STANDIN,
            ]
            + SERVERS[server],
            stdin=subprocess.DEVNULL,
            stdout=out,
            stderr=subprocess.STDOUT,
            env=ENV,
            start_new_session=True,
        )
    with open(os.path.join(folder, "pid"), "w") as f:
        f.write(str(p.pid))
    with open(os.path.join(folder, "port"), "w") as f:
        f.write(str(port))
    if not nbtest.wait_http(port, 20):
        print(
            open(os.path.join(folder, "server.log"), errors="replace").read()[-3000:],
            file=sys.stderr,
        )
        stop(dir_, server)
        raise Failed(f"{server} in the fresh system does not answer on 127.0.0.1:{port}")
    print(f"{server} in {system.root} on 127.0.0.1:{port} (namespace pid {p.pid})")
    return 0


def in_system(root):
    """The processes that run in the system at root."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if os.readlink(f"/proc/{pid}/root").startswith(root):
                found.append(int(pid))
        except OSError:
            pass
    return found


def stop(dir_, server):
    folder = os.path.join(dir_, server)
    root = os.path.join(folder, "root")
    try:
        with open(os.path.join(folder, "pid")) as f:
            pid = int(f.read())
    except FileNotFoundError:
        return 0
    # The namespace's first process is the server, or the shell that runs
    # it; when it goes, the kernel ends every other one of the namespace:
    # server, program and Configure alike. unshare's --kill-child does not
    # reach a server that changed its user (lighttpd), so each process of
    # the system is ended from here.
    for target in [pid] + in_system(root):
        try:
            os.kill(target, signal.SIGKILL)
        except ProcessLookupError:
            pass
    os.remove(os.path.join(folder, "pid"))
    if not nbtest.within(10, lambda: not in_system(root)):
        print(f"FAIL processes left in {root}: {in_system(root)}", file=sys.stderr)
        return 1
    shutil.rmtree(root, ignore_errors=True)
    return 0


def menu_pages(system, port):
    """Every menu page through the server is the installed program's own
    answer, with the headers that keep the pages from being framed or mixed."""
    queries = [pages.query(value) for value in pages.VALUES]
    wrong = web.same_as_program(system, port, queries)
    _, got, _ = nbtest.fetch(port, "/cgi-bin/northbeam?" + queries[0])
    for name, value in HEADERS.items():
        if got.get(name) != value:
            wrong.append(f"{name}: {got.get(name)!r}, not {value!r}")
    if not wrong:
        print(f"{len(queries)} pages byte for byte the program's own, run directly in the system")
    return wrong


CHECKS = {
    "pages": menu_pages,
    "pictures": lambda system, port: web.pictures(system, port),
    "save": lambda system, port: web.accepted_save(system, port, web.same_site),
    "cross-site": lambda system, port: web.refused_save(system, port, web.other_site),
}


def check(dir_, server, name):
    system = System(dir_, server)
    wrong = CHECKS[name](system, system.port(server))
    for line in wrong:
        print(f"FAIL {server} {name}: {line}")
    print(f"{server} {name}: {'FAILED' if wrong else 'ok'}")
    return 1 if wrong else 0


def apache_state(system):
    """What Apache has on of the package's configuration and of the modules it needs."""
    state = {}
    for kind, name in (("-c", "northbeam"), ("-m", "cgid"), ("-m", "headers")):
        done = in_root(system.root, "a2query", "-q", kind, name)
        state[name] = done.returncode == 0
    return state


def left_behind(path, name):
    """Whether a file is the package's: its name carries the package's, or it
    is Apache's record of a module that the package enabled."""
    if "northbeam" in name:
        return True
    return path.startswith("/var/lib/apache2/") and name in ("cgid", "headers")


def leftovers(system):
    """Files of the package's left in the system."""
    found = []
    for top in ("etc", "usr", "var"):
        for folder, dirs, files in os.walk(os.path.join(system.root, top)):
            for name in dirs + files:
                path = os.path.join(folder, name)[len(system.root) :]
                if left_behind(path, name):
                    found.append(path)
    return found


def remove(dir_, server):
    """Removing the package disables what it enabled in Apache (the fresh
    system had neither mod_cgid nor mod_headers on); purging it leaves
    nothing of it behind."""
    system = System(dir_, server)
    env = dict(ENV, DEBIAN_FRONTEND="noninteractive")
    wrong = []
    before = apache_state(system)
    if before != {"northbeam": True, "cgid": True, "headers": True}:
        wrong.append(f"installed, Apache has {before}")
    in_root(system.root, "apt-get", "remove", "-y", "-q", "northbeam", env=env, check=True)
    after = apache_state(system)
    if any(after.values()):
        wrong.append(f"removed, Apache still has {after}")
    in_root(system.root, "apt-get", "purge", "-y", "-q", "northbeam", env=env, check=True)
    wrong += [f"purged, left {path}" for path in leftovers(system)]
    for line in wrong:
        print(f"FAIL {server} remove: {line}")
    print(f"{server} remove and purge: {'FAILED' if wrong else 'ok'}")
    return 1 if wrong else 0


COMMANDS = {
    ("systems", 0): systems,
    ("build", 1): build,
    ("lintian", 1): lintian,
    ("piuparts", 0): piuparts,
    ("start", 1): start,
    ("stop", 1): stop,
    ("check", 2): check,
    ("remove", 1): remove,
}


def main(argv):
    if len(argv) == 3 and argv[1] == "list":
        print(";".join(SERVERS if argv[2] == "servers" else CHECKS))
        return 0
    command = COMMANDS.get((argv[1], len(argv) - 2)) if len(argv) >= 2 else None
    if command is None:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        return command(os.path.abspath(argv[0]), *argv[2:])
    except (Failed, subprocess.CalledProcessError, subprocess.TimeoutExpired) as e:
        print(f"FAIL {e}", file=sys.stderr)
        return 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
