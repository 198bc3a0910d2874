"""The Debian package, built and proved the way a board's owner uses it, in
fresh Debian 12 systems made by mmdebstrap from this machine's Debian
package sources:
  package.py DIR systems             the fresh systems as tarballs in DIR/systems, made
                                     again once a day
  package.py DIR build ARCH          northbeam_VERSION_ARCH.deb into DIR/ARCH, built in the
                                     build system: amd64 with the suites, armhf and arm64
                                     cross-built; the program must need only the C library
  package.py DIR lintian ARCH        lintian on it: no error and no warning
  package.py DIR piuparts BASE      install, remove and purge over a fresh minimal base
                                     (BASE: base, or base-lighttpd with lighttpd in it)
  package.py DIR autopkgtest [TEST]  debian/tests (or one of them) on the amd64 package in a
                                     fresh testbed
Runs as root: the systems are unpacked and entered with chroot, in mount and
PID namespaces of their own (tests/stages/package-root); nothing of this
machine's own configuration changes.
"""

import glob
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "scripts", "pylib"))
import nbtest  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(HERE))
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
    "base-lighttpd": ("base-lighttpd.tar.gz", ["--variant=minbase", "--include=lighttpd"]),
    "testbed": ("testbed.tar", ["--variant=minbase"]),
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


# A fresh installed system's /etc/hosts (mmdebstrap writes none).
HOSTS = "127.0.0.1\tlocalhost\n::1\t\tlocalhost ip6-localhost ip6-loopback\n"


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


def copy_sources(tree):
    for name in source_files():
        target = os.path.join(tree, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(SOURCE, name), target, follow_symlinks=False)


def build(dir_, arch):
    root = os.path.join(dir_, "build-root")
    unpack(dir_, "build", root)
    copy_sources(os.path.join(root, "build", "northbeam"))
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


def piuparts(dir_, base_name):
    deb = os.path.join(dir_, NATIVE, deb_name(NATIVE))
    base = os.path.join(dir_, "systems", SYSTEMS[base_name][0])
    log = os.path.join(dir_, f"piuparts-{base_name}.log")
    run("piuparts", "--distribution=bookworm", "--basetgz", base, "--logfile", log, deb)
    with open(log) as f:
        print("".join(f.readlines()[-5:]), end="")
    return 0


# ---- the package as an administrator sets it up ---------------------------


def autopkgtest(dir_, test=None):
    """debian/tests, each following README.Debian in a fresh Debian 12 testbed:
    the chroot backend over an unpacked system, entered from mount and PID
    namespaces of the stage's own; each test makes its own network namespace.
    The namespaces give the isolation of a container that the tests declare;
    the purge test, which breaks the testbed, comes last."""
    root = os.path.join(dir_, "testbed")
    unpack(dir_, "testbed", root)
    # The testbed installs each test's Depends from Debian's archive; its
    # /etc/hosts is the one Debian's installer writes.
    resolv = os.path.join(root, "etc", "resolv.conf")
    if os.path.lexists(resolv):
        os.remove(resolv)
    shutil.copy("/etc/resolv.conf", resolv)
    with open(os.path.join(root, "etc", "hosts"), "w") as f:
        f.write(HOSTS)
    tree = os.path.join(dir_, "tree")
    shutil.rmtree(tree, ignore_errors=True)
    copy_sources(tree)
    out = os.path.join(dir_, "autopkgtest")
    shutil.rmtree(out, ignore_errors=True)
    summary = os.path.join(dir_, "autopkgtest.summary")
    done = subprocess.run(
        ["unshare", "--mount", "--pid", "--fork", "--kill-child", ROOT_RUNNER, "--outside", root]
        + ["autopkgtest", "--ignore-restrictions=isolation-container,breaks-testbed"]
        + ["--setup-commands=apt-get update", "--output-dir", out, "--summary-file", summary]
        + ([f"--test-name={test}"] if test else [])
        + ["-B", os.path.join(dir_, NATIVE, deb_name(NATIVE)), tree + "/", "--", "chroot", root],
        env=ENV,
    )
    with open(summary) as f:
        print(f.read(), end="")
    shutil.rmtree(root, ignore_errors=True)
    if done.returncode != 0:
        raise Failed(f"autopkgtest exited with {done.returncode}")
    return 0


COMMANDS = {
    ("systems", 0): systems,
    ("build", 1): build,
    ("lintian", 1): lintian,
    ("piuparts", 1): piuparts,
    ("autopkgtest", 0): autopkgtest,
    ("autopkgtest", 1): autopkgtest,
}


def main(argv):
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
