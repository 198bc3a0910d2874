"""The builds that the test build checks beside itself, each a CTest test:
  subbuild.py board  SOURCE DIR            the board's paths, no tests: only libc, no host folders
  subbuild.py plain  SOURCE DIR            no options at all, as a packager builds it; its own CTest
  subbuild.py static SOURCE DIR LIBC ROOT SUITES...
                                           fully static (glibc, musl, or musl-armhf for the board)
                                           over the test build's board ROOT; the given suites run
                                           against it, under qemu-user for ARM
  subbuild.py asan   SOURCE DIR            AddressSanitizer, UndefinedBehaviorSanitizer and leak
                                           checking; its own CTest
  subbuild.py cross  SOURCE DIR TRIPLE     a cross build whose suites run under qemu-user, then a
                                           /usr DESTDIR board install that needs only libc
Each exits non-zero, saying why, on the first failure.
"""

import os
import shutil
import subprocess
import sys

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib")
)
import nbtest  # noqa: E402
import pages  # noqa: E402

# The program may be no larger than this, stripped, for the board's flash.
SIZE_LIMIT = 64 * 1024
JOBS = str(os.cpu_count() or 2)


class Failed(Exception):
    pass


def run(*args, env=None):
    print("+", " ".join(args), flush=True)
    if subprocess.run(args, env=env).returncode != 0:
        raise Failed(f"{args[0]} failed: {' '.join(args)}")


def configure(source, build, *options, fresh=True):
    if fresh and os.path.isdir(build):
        shutil.rmtree(build)
    run("cmake", "-S", source, "-B", build, *options)
    run("cmake", "--build", build, "-j", JOBS)


def ctest(build, *args, env=None):
    run("ctest", "--test-dir", build, "--output-on-failure", *args, env=env)


def only_libc(program):
    needed = nbtest.elf_needed(program)
    print(f"{program} needs {' '.join(needed)}")
    if needed != ["libc.so.6"]:
        raise Failed(f"{program} must need only the C library, not: {' '.join(needed)}")


def stripped_size(program, strip="strip"):
    out = program + ".stripped"
    run(strip, "-o", out, program)
    size = os.path.getsize(out)
    print(f"{program}: {size} bytes stripped")
    return size


def board(source, build):
    configure(source, build, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF", "-DNB_WERROR=ON")
    program = os.path.join(build, "northbeam")
    only_libc(program)
    if stripped_size(program) > SIZE_LIMIT:
        raise Failed(f"the board program is over {SIZE_LIMIT} bytes stripped")
    with open(program, "rb") as f:
        if os.path.abspath(source).encode() in f.read():
            raise Failed("the board build names this machine's folders")


def plain(source, build):
    configure(source, build)
    ctest(build)


# The fully static builds: LIBC's toolchain file (none for glibc), and the
# emulator that runs its program here.
STATIC_TOOLCHAINS = {
    "glibc": (None, None),
    "musl": ("musl.cmake", None),
    "musl-armhf": ("arm-linux-musleabihf.cmake", "/usr/bin/qemu-arm"),
}
# The one a board may run, which is held to the board program's size.
BOARD_STATIC = "musl-armhf"


def has_interpreter(program):
    out = subprocess.run(["readelf", "-l", program], check=True, capture_output=True, text=True)
    return "INTERP" in out.stdout


def static(source, build, libc, root, *suites):
    toolchain, emulator = STATIC_TOOLCHAINS[libc]
    options = [
        "-DCMAKE_BUILD_TYPE=Release",
        "-DBUILD_TESTING=OFF",
        "-DNB_WERROR=ON",
        "-DNB_FULLY_STATIC=ON",
        f"-DNB_ROOT={root}",
    ]
    if toolchain is not None:
        options.append(f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/{toolchain}")
    if libc == BOARD_STATIC:
        # Debian's musl for armhf, fetched as the board image fetches its packages.
        run(os.path.join(source, "scripts/musl-armhf"))
    configure(source, build, *options)
    program = os.path.join(build, "northbeam")
    if nbtest.elf_needed(program) or has_interpreter(program):
        raise Failed(f"{program} is not statically linked")
    if libc != BOARD_STATIC:
        stripped_size(program)
    elif stripped_size(program, "arm-linux-gnueabihf-strip") > SIZE_LIMIT:
        raise Failed(f"the board's fully static program is over {SIZE_LIMIT} bytes stripped")
    # The host's suites start the program through the emulator, as in the
    # cross builds.
    env = dict(os.environ, NB_TEST_PROGRAM=program, NB_TEST_EMULATOR=emulator or "")
    for suite in suites:
        run(suite, env=env)


def asan(source, build):
    configure(source, build, "-DCMAKE_BUILD_TYPE=Debug", "-DNB_SANITIZE=ON", "-DNB_WERROR=ON")
    env = dict(
        os.environ,
        ASAN_OPTIONS="detect_leaks=1:abort_on_error=1",
        UBSAN_OPTIONS="print_stacktrace=1",
    )
    ctest(build, env=env)


def cross(source, build, triple):
    toolchain = f"-DCMAKE_TOOLCHAIN_FILE={source}/cmake/{triple}.cmake"
    configure(source, build, toolchain, "-DCMAKE_BUILD_TYPE=Release", "-DNB_WERROR=ON")
    ctest(build)
    # A board install as Buildroot and OpenWrt do it: toolchain file, /usr, DESTDIR.
    install = build + "-install"
    configure(
        source,
        install,
        toolchain,
        "-DCMAKE_BUILD_TYPE=Release",
        "-DCMAKE_INSTALL_PREFIX=/usr",
        "-DBUILD_TESTING=OFF",
        "-DNB_WERROR=ON",
    )
    rootfs = os.path.join(install, "rootfs")
    shutil.rmtree(rootfs, ignore_errors=True)
    run("cmake", "--install", install, env=dict(os.environ, DESTDIR=rootfs))
    program = os.path.join(rootfs, "var/www/cgi-bin/northbeam")
    if not os.access(program, os.X_OK):
        raise Failed(f"the install left no program at {program}")
    only_libc(program)
    images = os.path.join(rootfs, "var/www/images")
    installed = sorted(os.listdir(images)) if os.path.isdir(images) else []
    if installed != pages.PICTURES:
        raise Failed(f"the install left the pictures {installed}, not {pages.PICTURES}")


KINDS = {"board": board, "plain": plain, "static": static, "asan": asan, "cross": cross}


def main(argv):
    if len(argv) < 3 or argv[0] not in KINDS:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        KINDS[argv[0]](*argv[1:])
    except Failed as e:
        print(f"FAILED: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
