#!/usr/bin/env python3
"""Measures what one request costs the board: instructions (callgrind), peak
resident memory and requests per second through busybox httpd on 127.0.0.1
with wrk, for each kind of request, each as a ratio to a plain C program
that writes the same answer from a constant (bench/floor.c). Then how time
and memory grow with the query and the listed file, and the sizes. Last, the
same through the emulated ARM board's busybox httpd, for the dynamic and the
fully static musl program side by side, and the gate that picks the board's
program. Then the regression guards: the bench ends with status 1 when a
figure is past its guard. Takes about eleven minutes here; scripts/bench
installs what it needs and runs it:

  scripts/bench            everything
  scripts/bench --host     all but the board
  scripts/bench --board    the board alone

  NB_BENCH_SECONDS        seconds of load per wrk run (default 2)
  NB_BENCH_BOARD_SECONDS  the same on the board (default 3), in rounds that take
                          turns (NB_BENCH_BOARD_ROUNDS, default 5; the median counts)
"""

import base64
import os
import shutil
import statistics
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "scripts", "pylib"))
import nbtest  # noqa: E402
import pages  # noqa: E402

BOARD = os.path.join(TOP, "scripts", "board")
BUILD = os.path.join(TOP, "build")
ROOT = os.path.join(BUILD, "bench", "root")
WORK = os.path.join(BUILD, "bench", "work")
JOBS = "2"

# The request kinds and their queries.
KINDS = {
    "home": pages.query(pages.HOME),
    "listing": pages.query("CPU_Info"),
    "form": pages.query(pages.FORM),
    "debug": "rc=3&index_link=" + pages.HOME,
    "all7": pages.query(*pages.VALUES),
    "save": "rc=2&WAN_STATICIP=Static+IP+Address"
    + "".join(f"&{name}={pages.DEFAULTS[name]}" for name in pages.TEXT_FIELDS),
}
# Every request comes from the form, as a browser's would: a save needs the
# board's own page as its Referer.
REFERER = "http://127.0.0.1" + pages.path(pages.FORM)

# The guards where the plain code lands (the listing loop: fgets, one escape
# scan, one write per line). They are regression guards, not targets.
# glibc's whole request to the floor's instructions, at most:
GUARD_INSTR = {"listing": 2.25, "all7": 2.25}  # a listing, and all seven pages
GUARD_INSTR_OTHER = 1.75
# The static musl program's own process to the dynamic floor's own. All seven
# pages stay unguarded: that request is five listings, and musl's strcspn
# tests one byte at a time.
GUARD_MUSL_OWN = {"home": 1.0, "form": 1.0, "debug": 1.0, "save": 1.0, "listing": 2.0}
GUARD_RSS = 1.5  # peak memory to the floor's
# A save's peak is its own: the wait page's child beside the parent that
# becomes Configure, with the save's checks and the protective header. It
# stood at 1.48 and, with those checks, at 1.51 to 1.53.
GUARD_RSS_KIND = {"save": 1.6}
GUARD_SIZE = 64 * 1024  # stripped bytes, for the board's flash
# On the board: the program the image carries, each kind's requests per second
# to the dynamic floor's, at least:
GUARD_BOARD = 0.9
# The gate: the image ships the static musl program when its median requests
# per second are at least this many times the dynamic floor's on the home
# page and the form, and no kind is below 1.0 times.
GATE = 1.3
GATE_KINDS = ("home", "form")

failed_guards = []


def guard(what, figure, op, bound):
    """One guard: prints its figure and bound, and counts it when past it."""
    ok = figure is not None and (figure <= bound if op == "<=" else figure >= bound)
    shown = "-" if figure is None else f"{figure:.3f}" if isinstance(figure, float) else figure
    print(f"guard {what:<62} {shown:>9} {op} {bound:<6} {'ok' if ok else 'PAST'}")
    if not ok:
        failed_guards.append(what)


def run(*args, **kw):
    return subprocess.run(args, check=True, **kw)


def lib(*command, **kw):
    """A function of scripts/lib.sh."""
    run("bash", "-c", f'source "{TOP}/scripts/lib.sh" && "$@"', "lib", *command, **kw)


def lib_value(name):
    """A setting of scripts/lib.sh."""
    script = f'source "{TOP}/scripts/lib.sh" && echo "${name}"'
    return subprocess.run(
        ["bash", "-c", script], check=True, capture_output=True, text=True
    ).stdout.strip()


def configure_build(name, *options):
    lib(
        "configure_build",
        name,
        "-DCMAKE_BUILD_TYPE=Release",
        "-DBUILD_TESTING=OFF",
        *options,
        stdout=subprocess.DEVNULL,
    )


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt(value, width=7):
    return f"{'-':>{width}}" if value is None else f"{value:>{width}.3f}"


def median(values):
    return statistics.median_low(values) if values else 0


def cgi_env(query):
    """The environment of a CGI request, as a small board's web server gives it."""
    return {
        "GATEWAY_INTERFACE": "CGI/1.1",
        "SERVER_SOFTWARE": "busybox/1.35.0",
        "SERVER_PROTOCOL": "HTTP/1.1",
        "REQUEST_METHOD": "GET",
        "SCRIPT_NAME": pages.CGI,
        "REQUEST_URI": pages.CGI + "?" + query,
        "REMOTE_ADDR": "127.0.0.1",
        "REMOTE_PORT": "40000",
        "HTTP_HOST": "127.0.0.1",
        "HTTP_USER_AGENT": "bench",
        "HTTP_ACCEPT": "text/html",
        "HTTP_REFERER": REFERER,
        "PATH": "/bin:/usr/bin:/sbin:/usr/sbin",
        "QUERY_STRING": query,
    }


def answer_of(query, program):
    return subprocess.run(
        [program], env=cgi_env(query), stdin=subprocess.DEVNULL, capture_output=True, check=True
    ).stdout


def instr(query, *command):
    """Instructions of one request: (TOTAL, OWN), where TOTAL counts every
    process the request runs and OWN only those of the command itself (before
    they exec anything). Each process dumps its counts before it forks, so a
    child starts from zero and nothing is counted twice, and before it execs."""
    with tempfile.TemporaryDirectory(dir=WORK) as d:
        dumps = [
            f"--dump-before={f}" for f in ("execve", "fork", "vfork", "_Fork", "__clone_internal")
        ]
        subprocess.run(
            [
                "valgrind",
                "--tool=callgrind",
                "--trace-children=yes",
                *dumps,
                f"--callgrind-out-file={d}/cg.%p",
                *command,
            ],
            env=cgi_env(query),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL,
        )
        total = own = 0
        for name in os.listdir(d):
            mine = False
            with open(os.path.join(d, name)) as f:
                for line in f:
                    if line.startswith("cmd:"):
                        mine = line.split()[1] == command[0]
                    elif line.startswith("summary:"):
                        n = int(line.split()[1])
                        total += n
                        own += n if mine else 0
        return total, own


def rss(query, program):
    """Peak resident memory in KiB, the median of five runs (GNU time)."""
    out = os.path.join(WORK, "rss")
    runs = []
    for _ in range(5):
        subprocess.run(
            ["/usr/bin/time", "-f", "%M", "-o", out, program],
            env=cgi_env(query),
            stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL,
            check=True,
        )
        with open(out) as f:
            runs.append(int(f.read().split()[-1]))
    return median(runs)


def rps(port, path, seconds, headers=()):
    """Requests per second through 127.0.0.1:port (wrk), 0 when none came."""
    args = [
        "wrk",
        "-t",
        "2",
        "-c",
        "4",
        "-d",
        f"{seconds}s",
        "-H",
        f"Referer: http://127.0.0.1:{port}{pages.CGI}",
    ]
    for header in headers:
        args += ["-H", header]
    done = subprocess.run(
        args + [f"http://127.0.0.1:{port}/{path}"],
        capture_output=True,
        text=True,
        timeout=seconds + 20,
    )
    for line in done.stdout.splitlines():
        if line.startswith("Requests/sec:"):
            return float(line.split()[1])
    return 0.0


def floor(cc, answer, out, *flags):
    """Builds bench/floor.c for one answer (a CGI's whole output)."""
    header = out + ".h"
    with open(header, "w") as f:
        f.write("static const unsigned char answer[] = {")
        f.write(",".join(str(b) for b in answer))
        f.write(f"}};\nstatic const unsigned int answer_len = {len(answer)};\n")
    run(
        *cc,
        "-O2",
        "-o",
        out,
        f'-DANSWER_H="{header}"',
        *flags,
        os.path.join(TOP, "bench", "floor.c"),
    )


def c_list(*paths):
    return ",".join(f'"{p}"' for p in paths)


def make_listing(size):
    """A listed file of size bytes: cpuinfo-like lines, the last one cut short."""
    text, i = "", 0
    while len(text) < size:
        text += f"processor\t: {i}\nmodel name\t: XScale-IXP425 rev 1 (v5b)\nBogoMIPS\t: 532.48\n\n"
        i += 1
    with open(os.path.join(ROOT, "proc", "cpuinfo"), "w") as f:
        f.write(text[:size])


def stripped(program, out, strip="strip"):
    run(strip, "-o", out, program)
    return os.path.getsize(out)


class Httpd:
    """busybox httpd on a free loopback port, over a document root."""

    def __init__(self, www):
        self.port = nbtest.free_port()
        self.proc = subprocess.Popen(
            ["busybox", "httpd", "-f", "-p", f"127.0.0.1:{self.port}", "-h", www],
            env={"PATH": "/usr/bin:/bin"},
        )
        nbtest.wait_http(self.port, 5)

    def stop(self):
        self.proc.terminate()
        self.proc.wait()


def host(secs):
    print("== bench builds", flush=True)
    configure_build("bench", f"-DNB_ROOT={ROOT}")
    configure_build("bench-static", f"-DNB_ROOT={ROOT}", "-DNB_FULLY_STATIC=ON")
    configure_build(
        "bench-musl",
        f"-DNB_ROOT={ROOT}",
        "-DNB_FULLY_STATIC=ON",
        f"-DCMAKE_TOOLCHAIN_FILE={TOP}/cmake/musl.cmake",
    )
    prog = os.path.join(BUILD, "bench", "northbeam")
    static = os.path.join(BUILD, "bench-static", "northbeam")
    musl = os.path.join(BUILD, "bench-musl", "northbeam")

    shutil.rmtree(ROOT, ignore_errors=True)
    shutil.rmtree(WORK, ignore_errors=True)
    for d in ("proc", "sbin", "tmp", "etc"):
        os.makedirs(os.path.join(ROOT, d))
    os.makedirs(WORK)
    standin = os.path.join(WORK, "standin")
    run("gcc", "-O2", "-o", standin, os.path.join(TOP, "bench", "standin.c"))
    for cmd in ("sbin/ifconfig", "sbin/route", "etc/Configure"):
        shutil.copy(standin, os.path.join(ROOT, cmd))
    make_listing(4096)
    for name in ("meminfo", "pci"):
        shutil.copy(os.path.join(ROOT, "proc", "cpuinfo"), os.path.join(ROOT, "proc", name))

    print("== floors: the same answers from constants", flush=True)
    # What the floor reads or becomes, as the program does: the listed files,
    # the commands, Configure.
    listed = [os.path.join(ROOT, name) for name in ("proc/cpuinfo", "proc/meminfo", "proc/pci")]
    commands = [os.path.join(ROOT, name) for name in ("sbin/ifconfig", "sbin/route")]
    floor_flags = {
        "listing": [f"-DLISTED={c_list(listed[0])}"],
        "all7": [f"-DLISTED={c_list(*listed)}", f"-DCOMMANDS={c_list(*commands)}"],
        "save": [f'-DCONFIGURE="{os.path.join(ROOT, "etc/Configure")}"'],
    }
    www = os.path.join(WORK, "www")
    os.makedirs(os.path.join(www, "cgi-bin"))
    shutil.copy(prog, os.path.join(www, "cgi-bin", "northbeam"))
    for k, q in KINDS.items():
        answer = answer_of(q, prog)
        if not answer.startswith(b"Content-type: text/html\n") or b"\n\n" not in answer:
            sys.exit(f"the {k} answer does not start with the CGI header")
        head = answer[: answer.index(b"\n\n") + 2]
        floor(["gcc"], answer, os.path.join(www, "cgi-bin", f"floor-{k}"), *floor_flags.get(k, []))
        # The static file is the body a CGI answer carries, after its header.
        with open(os.path.join(www, f"{k}.html"), "wb") as f:
            f.write(answer[len(head) :])

    print("== instructions and memory (callgrind, GNU time)", flush=True)
    ir, fir, io, fio, sio, mio, rs, frs = ({} for _ in range(8))
    for k, q in KINDS.items():
        if k == "save":
            config = os.path.join(ROOT, "tmp", "config.out")
            if os.path.exists(config):
                os.remove(config)
        fl = os.path.join(www, "cgi-bin", f"floor-{k}")
        ir[k], io[k] = instr(q, prog)
        fir[k], fio[k] = instr(q, fl)
        sio[k] = instr(q, static)[1]
        mio[k] = instr(q, musl)[1]
        rs[k] = rss(q, prog)
        frs[k] = rss(q, fl)

    httpd = Httpd(www)
    print(
        f"== requests per second (busybox httpd on 127.0.0.1:{httpd.port}, wrk {secs}s each)",
        flush=True,
    )
    rp, frp, sp = {}, {}, {}
    try:
        for k, q in KINDS.items():
            rp[k] = rps(httpd.port, f"cgi-bin/northbeam?{q}", secs)
            frp[k] = rps(httpd.port, f"cgi-bin/floor-{k}?{q}", secs)
            sp[k] = rps(httpd.port, f"{k}.html", secs)
    finally:
        httpd.stop()

    print()
    print(
        "instructions per request (callgrind): the whole request, and the program's own processes"
    )
    print(
        f"{'kind':<8} {'instr':>10} {'floor':>10} {'ratio':>7}   {'own':>10} {'floor_own':>10} "
        f"{'ratio':>7}   {'static_own':>10} {'/floor':>7} {'musl_own':>10} {'/floor':>7}"
    )
    for k in KINDS:
        print(
            f"{k:<8} {ir[k]:>10} {fir[k]:>10} {fmt(ratio(ir[k], fir[k]))}   {io[k]:>10} "
            f"{fio[k]:>10} {fmt(ratio(io[k], fio[k]))}   {sio[k]:>10} "
            f"{fmt(ratio(sio[k], fio[k]))} {mio[k]:>10} {fmt(ratio(mio[k], fio[k]))}"
        )
    print(
        "(the whole request adds the stand-ins it starts: /sbin/ifconfig, /sbin/route, "
        "/etc/Configure;"
    )
    print(
        " static_own and musl_own are the fully static builds' own processes, with glibc and "
        "with musl,"
    )
    print(" as ratios to the dynamic floor's)")
    print()
    print("peak resident memory (GNU time, median of 5) and requests per second (wrk)")
    print(
        f"{'kind':<8} {'rss_KiB':>8} {'floor':>8} {'ratio':>7}   {'req/s':>7} {'floor':>7} "
        f"{'ratio':>7} {'static':>7} {'ratio':>7}"
    )
    for k in KINDS:
        print(
            f"{k:<8} {rs[k]:>8} {frs[k]:>8} {fmt(ratio(rs[k], frs[k]))}   {rp[k]:>7.0f} "
            f"{frp[k]:>7.0f} {fmt(ratio(rp[k], frp[k]))} {sp[k]:>7.0f} {fmt(ratio(rp[k], sp[k]))}"
        )
    print(
        "(req/s 'static' is the same bytes served as a static file: the ceiling without a process)"
    )

    growth(prog)

    print()
    print("== size")
    sizes = {}
    for name, program in (
        ("northbeam", prog),
        ("northbeam-static", static),
        ("northbeam-musl", musl),
    ):
        sizes[name] = stripped(program, os.path.join(WORK, name + ".stripped"))
    print(
        f"stripped program: {sizes['northbeam']} bytes, needs: {' '.join(nbtest.elf_needed(prog))}"
    )
    print(f"stripped fully static program: {sizes['northbeam-static']} bytes")
    print(f"stripped fully static program with musl: {sizes['northbeam-musl']} bytes")

    print()
    print("== guards (this machine)")
    for k in KINDS:
        bound = GUARD_INSTR.get(k, GUARD_INSTR_OTHER)
        guard(
            f"{k}: glibc whole-request instructions to the floor's",
            ratio(ir[k], fir[k]),
            "<=",
            bound,
        )
    for k, bound in GUARD_MUSL_OWN.items():
        guard(f"{k}: musl_own, to the dynamic floor's own", ratio(mio[k], fio[k]), "<=", bound)
    for k in KINDS:
        guard(
            f"{k}: peak memory to the floor's",
            ratio(rs[k], frs[k]),
            "<=",
            GUARD_RSS_KIND.get(k, GUARD_RSS),
        )
    guard("northbeam: stripped bytes", sizes["northbeam"], "<=", GUARD_SIZE)


def growth(prog):
    print()
    print("== growth: query pairs (rc=1 and N-1 unknown pairs, one debug line each)")
    # One environment string holds at most 128 KiB, so 100,000 pairs cannot
    # reach a CGI program; every size is also run through the parser and page
    # code linked into a driver.
    driver = os.path.join(WORK, "growth")
    run(
        "g++",
        "-std=c++17",
        "-O2",
        f"-I{TOP}/src",
        "-o",
        driver,
        os.path.join(TOP, "bench", "growth.cpp"),
        os.path.join(BUILD, "bench", "libnorthbeam_core.a"),
    )
    base = instr("rc=1", prog)[0]
    base_rs = rss("rc=1", prog)
    dbase = instr("", driver, "1")[0]
    print(
        f"{'pairs':<8} {'instr':>12} {'instr/pair':>10} {'ratio':>8} {'rss_KiB':>10} "
        f"{'driver_instr':>10} {'d/pair':>12} {'ratio':>8}"
    )
    prev = dprev = None
    for n in (100, 1000, 10000, 100000):
        i = r = None
        if n <= 10000:
            q = "rc=1" + "&a=1" * (n - 1)
            i = instr(q, prog)[0]
            r = rss(q, prog)
        d = instr("", driver, str(n))[0]
        per = "-" if i is None else f"{(i - base) / n:.1f}"
        print(
            f"{n:<8} {i if i else '-':>12} {per:>10} {fmt(ratio(i, prev), 8)} {r if r else '-':>10} "
            f"{d:>10} {(d - dbase) / n:>12.1f} {fmt(ratio(d, dprev), 8)}"
        )
        prev, dprev = i, d
    print(f"(rc=1 alone: {base} instructions, {base_rs} KiB; per pair = (instr - that) / pairs)")

    print()
    print("== growth: listing size (CPU page)")
    print(f"{'bytes':<8} {'instr':>12} {'instr/KiB':>10} {'ratio':>8} {'rss_KiB':>10}")
    prev = None
    for size in (4096, 65536, 1048576):
        make_listing(size)
        i = instr(KINDS["listing"], prog)[0]
        r = rss(KINDS["listing"], prog)
        print(f"{size:<8} {i:>12} {i / (size / 1024):>10.0f} {fmt(ratio(i, prev), 8)} {r:>10}")
        prev = i


# The board: requests per second and peak memory through the emulated ARM
# board's busybox httpd, all in one boot, for the home page, a listing, the
# form and a save, for the two programs a board may run side by side: the
# dynamic one (Debian's armel C library, which the bench's boot carries) and
# the fully static musl one (armhf). Each against the same bytes as a static
# file, the floor linked as the dynamic program is, and the floor linked
# statically with the same musl, so that the program's own share shows. The
# board asks for its login on /cgi-bin/, so the programs and the floors alike
# pay for its check; the static file does not.
BOARD_KINDS = ("home", "listing", "form", "save")
BOARD_RUNS = {
    "dynamic": "dynamic program",
    "musl": "static musl program",
    "dfloor": "dynamic floor",
    "sfloor": "static floor",
    "static": "static file",
}
# The board's save is of the settings its port already runs (its factory
# file's), so each Configure finds nothing to apply and ends at once,
# instead of a queue of applies that would slow the turns after it.
BOARD_SAVE = (
    "rc=2&WAN_STATICIP=Static+IP+Address&WAN_IPADDR=10.1.10.227&WAN_NETMASK=255.255.0.0"
    "&WAN_ROUTE=10.1.0.1&DNS1=10.0.0.2&DNS2=10.0.0.5"
)
# What the floors do there as the program does: read the board's own
# cpuinfo on the CPU page, and hand a save over to its Configure.
BOARD_FLOOR_FLAGS = {
    "listing": ['-DLISTED="/proc/cpuinfo"'],
    "save": ['-DCONFIGURE="/etc/Configure"'],
}


class BoardBench:
    def __init__(self, state):
        self.state = state
        self.port = nbtest.free_port()
        done = subprocess.run(
            [BOARD, "boot", state, str(os.getpid()), str(self.port)],
            capture_output=True,
            text=True,
            timeout=180,
        )
        if done.returncode != 0:
            print(done.stdout + done.stderr, file=sys.stderr)
            sys.exit(f"the board did not boot (console {state}/console.log)")
        self.login = done.stdout.strip().splitlines()[-1]
        self.headers = ["Authorization: Basic " + base64.b64encode(self.login.encode()).decode()]

    def fetch(self, path, body=None, timeout=30):
        status, _, data = nbtest.fetch(
            self.port,
            path,
            method="GET" if body is None else "POST",
            body=body,
            auth=self.login,
            timeout=timeout,
            headers={"Referer": f"http://127.0.0.1:{self.port}{pages.CGI}"},
        )
        if status != 200:
            sys.exit(f"the board answered {status} to {path}")
        return data

    def put(self, path, data):
        self.fetch(f"/cgi-bin/bench-put?{path}", data)

    def idle(self):
        """Waits until the board's Configures have ended."""
        self.fetch("/cgi-bin/bench-idle", timeout=70)

    def off(self):
        subprocess.run([BOARD, "off", self.state], timeout=60)


def board_cgi(p, k):
    return f"{p}-{k}" if p in ("dfloor", "sfloor") else p


def board(secs, rounds):
    print()
    print(f"== the emulated ARM board (busybox httpd on the board, wrk {secs}s each)", flush=True)
    run(BOARD, "image")
    musl = subprocess.run(
        [os.path.join(TOP, "scripts", "musl-armhf")], check=True, capture_output=True, text=True
    ).stdout.strip()
    configure_build(
        "emu/bench-dynamic", f"-DCMAKE_TOOLCHAIN_FILE={TOP}/cmake/arm-linux-gnueabi.cmake"
    )
    configure_build(
        "emu/bench-musl",
        f"-DCMAKE_TOOLCHAIN_FILE={TOP}/cmake/arm-linux-musleabihf.cmake",
        "-DNB_FULLY_STATIC=ON",
    )
    state = os.path.join(BUILD, "emu", "bench")
    shutil.rmtree(state, ignore_errors=True)
    overlay = os.path.join(state, "overlay")
    cgi = os.path.join(overlay, "var", "www", "cgi-bin")
    os.makedirs(cgi)
    os.makedirs(os.path.join(overlay, "lib"))
    # Only the bench's boot carries these, in an archive of its own over the
    # image: bench/bench-put, bench-rss and bench-idle, both programs
    # stripped, and the C library the dynamic ones need.
    for name in ("bench-put", "bench-rss", "bench-idle"):
        shutil.copy(os.path.join(TOP, "bench", name), cgi)
    stripped(
        os.path.join(BUILD, "emu", "bench-dynamic", "northbeam"),
        os.path.join(cgi, "dynamic"),
        "arm-linux-gnueabi-strip",
    )
    musl_size = stripped(
        os.path.join(BUILD, "emu", "bench-musl", "northbeam"),
        os.path.join(cgi, "musl"),
        "arm-linux-gnueabihf-strip",
    )
    for name in ("ld-linux.so.3", "libc.so.6"):
        shutil.copy(os.path.join("/usr/arm-linux-gnueabi/lib", name), os.path.join(overlay, "lib"))
    nbtest.pack_overlay(overlay, os.path.join(state, "overlay.cpio.gz"))

    queries = {k: KINDS[k] for k in BOARD_KINDS}
    queries["save"] = BOARD_SAVE
    b = BoardBench(state)
    try:
        runs, rs = board_measure(b, queries, musl, secs, rounds)
    finally:
        b.off()

    med = {key: median(values) for key, values in runs.items()}
    print(
        f"requests per second on the board (one emulated ARM core), each round's figure and the "
        f"median of {rounds}"
    )
    for p, name in BOARD_RUNS.items():
        for k in BOARD_KINDS:
            figures = " ".join(f"{v:.1f}" for v in runs[k, p])
            print(f"{name:<22} {k:<8} {figures}  median {med[k, p]:.1f}")
    print()
    print("medians (req/s) and ratios; peak resident memory on the board (KiB, median of 5)")
    print(
        f"{'kind':<8} {'dynamic':>7} {'musl':>7} {'dfloor':>7} {'sfloor':>7} {'static':>7}   "
        f"{'dyn/df':>7} {'musl/df':>7} {'musl/sf':>7}   {'rss_dyn':>7} {'rss_mu':>6} {'rss_df':>6} "
        f"{'rss_sf':>6}"
    )
    for k in BOARD_KINDS:
        print(
            f"{k:<8} " + " ".join(f"{med[k, p]:>7.1f}" for p in BOARD_RUNS) + "   "
            f"{fmt(ratio(med[k, 'dynamic'], med[k, 'dfloor']))} "
            f"{fmt(ratio(med[k, 'musl'], med[k, 'dfloor']))} "
            f"{fmt(ratio(med[k, 'musl'], med[k, 'sfloor']))}   "
            f"{rs[k, 'dynamic']:>7} {rs[k, 'musl']:>6} {rs[k, 'dfloor']:>6} {rs[k, 'sfloor']:>6}"
        )
    print(
        "(dyn/df, musl/df: each program's requests per second to the dynamic floor's; musl/sf: the "
        "static"
    )
    print(
        " musl program's to the static floor's, its own share; static: the same bytes as a static "
        "file)"
    )
    passes = all(med[k, "musl"] >= 1.0 * med[k, "dfloor"] for k in BOARD_KINDS) and all(
        med[k, "musl"] >= GATE * med[k, "dfloor"] for k in GATE_KINDS
    )
    print(
        f"gate: {'passes' if passes else 'fails'} (the static musl program at least {GATE}x the "
        f"dynamic floor on {' and '.join(GATE_KINDS)}, no kind below 1.0x)"
    )
    print(f"stripped static musl program for ARM: {musl_size} bytes")
    guard("the static musl program for ARM: stripped bytes", musl_size, "<=", GUARD_SIZE)
    shipped = lib_value("nb_board_program")
    print(f"the image carries the {BOARD_RUNS[shipped]} (nb_board_program in scripts/lib.sh)")
    for k in BOARD_KINDS:
        guard(
            f"board {k}: the image's program, req/s to the dynamic floor's",
            ratio(med[k, shipped], med[k, "dfloor"]),
            ">=",
            GUARD_BOARD,
        )


def board_measure(b, queries, musl, secs, rounds):
    """Puts the floors and the static pages on the booted board, checks that
    every one answers as the program does, and measures: (runs, rss)."""
    state = b.state
    for k, q in queries.items():
        page = b.fetch(f"/cgi-bin/dynamic?{q}")
        if b.fetch(f"/cgi-bin/musl?{q}") != page:
            sys.exit(f"the static musl program does not answer {k} as the dynamic one does")
        answer = b"Content-type: text/html\n\n" + page
        flags = BOARD_FLOOR_FLAGS.get(k, [])
        floor(["arm-linux-gnueabi-gcc"], answer, os.path.join(state, f"dfloor-{k}"), *flags)
        floor(
            ["arm-linux-gnueabihf-gcc", "-static", f"-specs={musl}/musl-gcc.specs"],
            answer,
            os.path.join(state, f"sfloor-{k}"),
            *flags,
        )
        for p in ("dfloor", "sfloor"):
            with open(os.path.join(state, f"{p}-{k}"), "rb") as f:
                b.put(f"cgi-bin/{p}-{k}", f.read())
        b.put(f"{k}.html", page)
        for p in ("dfloor", "sfloor"):
            if b.fetch(f"/cgi-bin/{p}-{k}?{q}") != page:
                sys.exit(f"the board's {p}-{k} does not answer as the program does")
    # Peak memory: the median of five runs of each on the board.
    rs = {}
    for k, q in queries.items():
        for p in ("dynamic", "musl", "dfloor", "sfloor"):
            runs = b.fetch(f"/cgi-bin/bench-rss?{board_cgi(p, k)}", q.encode(), timeout=60).split()
            rs[k, p] = median([int(v) for v in runs])
    b.idle()
    # The emulated core runs as fast as this machine lets it: all take turns,
    # round after round, so that a busy moment falls on each alike.
    runs = {(k, p): [] for k in queries for p in BOARD_RUNS}
    for _ in range(rounds):
        for k, q in queries.items():
            for p in BOARD_RUNS:
                path = f"{k}.html" if p == "static" else f"cgi-bin/{board_cgi(p, k)}?{q}"
                runs[k, p].append(rps(b.port, path, secs, b.headers))
                # The applies of a turn of saves end before the next turn.
                if k == "save":
                    b.idle()
    return runs, rs


def main(argv):
    what = argv[0] if argv else ""
    if what not in ("", "--host", "--board"):
        print(__doc__, file=sys.stderr)
        return 2
    secs = int(os.environ.get("NB_BENCH_SECONDS", "2"))
    if what != "--board":
        host(secs)
    if what != "--host":
        board(
            int(os.environ.get("NB_BENCH_BOARD_SECONDS", "3")),
            int(os.environ.get("NB_BENCH_BOARD_ROUNDS", "5")),
        )
    if failed_guards:
        print("past its guard: " + "; ".join(failed_guards), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
