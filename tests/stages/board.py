"""The board stage: the interface on the emulated ARM board (scripts/board),
one table of rows, each a fault of its own.

  board.py rows                 the rows' names, for CTest
  board.py boot STATE           boots the board with a new flash (the fixture)
  board.py off STATE            powers it off (the fixture's end)
  board.py row NAME STATE       one row, against the fixture's board; the
                                power rows boot boards of their own

A row prints a line for each check that fails and exits 1 when one did.
"""

import json
import os
import random
import re
import shutil
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import SimpleHTTPRequestHandler, ThreadingHTTPServer

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib")
)
import nbtest  # noqa: E402
import pages  # noqa: E402
import configure  # noqa: E402

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BOARD = os.path.join(TOP, "scripts", "board")
# The WAN type (y: static, n: dynamic) and the form's text fields, from the
# program's settings table.
TYPE = pages.FIELDS[0]["name"]
NAMES = tuple(pages.TEXT_FIELDS)
# What the WAN port runs and the pages show of it: address, netmask,
# gateway, DNS1, DNS2.
PORT = ("WAN_IPADDR", "WAN_NETMASK", "WAN_ROUTE", "DNS1", "DNS2")
# The emulator's network on the WAN port: its DHCP server leases this.
LEASE = ("10.0.2.15", "255.255.255.0")
failures = []


def check(what, ok, detail=""):
    """One check: a failure prints a line and is counted."""
    if not ok:
        failures.append(what)
        print(f"FAIL {what}" + (f": {detail}" if detail else ""), flush=True)
    return ok


class Board:
    """A booted board: its web server and, on a test boot, the files a save
    changes that no page shows (port 81 of the board)."""

    def __init__(self, state):
        self.state = state
        with open(os.path.join(state, "board.json")) as f:
            info = json.load(f)
        self.port, self.inspect, self.login = info["port"], info["inspect"], info["login"]
        self.cgi = f"http://127.0.0.1:{self.port}/cgi-bin/northbeam"

    def get(self, query, auth=True, headers=None, timeout=30):
        """GET /cgi-bin/northbeam?QUERY: (status, body as text)."""
        status, _, body = nbtest.fetch(
            self.port,
            "/cgi-bin/northbeam?" + query,
            headers=headers,
            timeout=timeout,
            auth=self.login if auth is True else auth,
        )
        return status, body.decode("latin-1")

    def page(self, name):
        return self.get(pages.query(name))[1]

    def save(self, values, site="same", auth=True):
        """A save as the form sends it: values are a whole save (setting())
        or a list of pairs; site is where it says it comes from: same, cross
        or None (no sign at all)."""
        if isinstance(values, dict):
            kind = "Static IP Address" if values[TYPE] == "y" else "Dynamic IP Address"
            values = [(TYPE, kind)] + [(name, values[name]) for name in NAMES]
        query = "rc=2&" + urllib.parse.urlencode(values)
        headers = {}
        if site == "same":
            headers["Referer"] = self.cgi + "?" + pages.query(pages.FORM)
        elif site == "cross":
            headers["Referer"] = f"http://127.0.0.1:{self.inspect}/attack.html"
        return self.get(query, auth=auth, headers=headers)

    def file(self, name):
        """A file of the test boot: config.out, configure.log or resolv.conf."""
        try:
            status, _, body = nbtest.fetch(self.inspect, "/" + name, timeout=10)
        except OSError:
            return None
        return body.decode("latin-1") if status == 200 else None

    def log(self):
        return self.file("configure.log") or ""

    def form(self):
        """What the settings form shows: the type and each text field, by name."""
        body = self.page(pages.FORM)
        static = body.find("<OPTION> Static IP Address")
        dynamic = body.find("<OPTION> Dynamic IP Address")
        kind = "y" if 0 <= static < dynamic else "n" if 0 <= dynamic else None
        shown = [re.search(f'NAME={n} VALUE="([^"]*)"', body) for n in NAMES]
        return {TYPE: kind, **{n: m.group(1) if m else None for n, m in zip(NAMES, shown)}}

    def eth1(self):
        """eth1's address and netmask on the Net Statistics page."""
        body = self.page(pages.COMMANDS["ifconfig"]).replace("<pre>", "\n")
        # The page indents every line of the command's output.
        block = re.search(r"^\s*eth1\s.*?(?:\n\s*\n|\Z)", body, re.S | re.M)
        m = re.search(r"inet addr:(\S+).*Mask:(\S+)", block.group(0)) if block else None
        return (m.group(1), m.group(2)) if m else None

    def gateway(self):
        """The default route's gateway through eth1 on the Route Table page."""
        m = re.search(
            r"^\s*default\s+(\S+)\s+\S+\s+UG.*eth1\s*$", self.page(pages.COMMANDS["route"]), re.M
        )
        return m.group(1) if m else None

    def dns(self):
        return tuple(re.findall(r"^nameserver (\S+)", self.file("resolv.conf") or "", re.M))

    def running(self):
        """What the WAN port runs, as the form would show it for a static address."""
        addr = self.eth1() or (None, None)
        dns = self.dns()
        return addr + (self.gateway(),) + (dns + (None, None))[:2]


def setting(kind, **given):
    """A whole save: the type KIND, the fields GIVEN, and every other text
    field of the form at the program's default."""
    values = {TYPE: kind, **{name: pages.DEFAULTS[name] for name in NAMES}}
    values.update(given)
    return values


def static_save(address, netmask, gateway, dns1, dns2):
    """A static save of the WAN port's settings, the rest at their defaults."""
    return setting("y", **dict(zip(PORT, (address, netmask, gateway, dns1, dns2))))


def port_of(values):
    """What a save sets the WAN port to run, as running() reads it back."""
    return tuple(values[name] for name in PORT)


def settings_of(text):
    """The type and text fields of a settings file's text, as the form reads
    them; a field the file lacks is None."""
    values = {}
    for line in (text or "").splitlines():
        name, _, value = line.partition("=")
        values[name] = value.replace('"', "")
    return {n: values.get(n) for n in (TYPE,) + NAMES}


def factory():
    """What the form shows at first boot: the factory file, and the
    program's default for a field it does not name."""
    with open(os.path.join(TOP, "board", "config.factory")) as f:
        found = settings_of(f.read())
    return {n: pages.DEFAULTS[n] if v is None else v for n, v in found.items()}


def form_is_port(board, what):
    """The form shows what the port runs (a static address)."""
    form, port = board.form(), board.running()
    return check(
        f"{what}: the form shows what the port runs",
        form[TYPE] == "y" and port_of(form) == port,
        f"form {form}, port {port}",
    )


def settles(board, values, seconds, what):
    """Within SECONDS the port, the form and the name servers show a static save."""
    address, netmask, gateway, dns1, dns2 = port_of(values)
    ok = nbtest.within(seconds, lambda: board.eth1() == (address, netmask), pause=0.5)
    check(
        f"{what}: within {seconds} s eth1 is {address} netmask {netmask}",
        ok,
        f"eth1 {board.eth1()}",
    )
    check(
        f"{what}: the default route goes through {gateway}",
        nbtest.within(10, lambda: board.gateway() == gateway, pause=1),
    )
    check(
        f"{what}: resolv.conf names {dns1} and {dns2}",
        nbtest.within(5, lambda: board.dns() == (dns1, dns2), pause=0.5),
        f"{board.dns()}",
    )
    check(f"{what}: the form shows the save", board.form() == values, f"{board.form()}")


def unchanged(board, before, what, wait=3):
    """After WAIT seconds, the settings file and Configure's log are as they were."""
    time.sleep(wait)
    check(f"{what}: the settings file is as it was", board.file("config.out") == before[0])
    check(f"{what}: Configure did not run", board.log() == before[1])


def snapshot(board):
    return board.file("config.out"), board.log()


# A boot of its own, for the rows that power the board off or cut its power.
def boot(state, fresh, inspect=True):
    if fresh:
        shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state, exist_ok=True)
    port = nbtest.free_port()
    ports = [str(port)]
    info = {"port": port, "inspect": None}
    if inspect:
        info["inspect"] = nbtest.free_port()
        ports.append(str(info["inspect"]))
    began = time.monotonic()
    # The heartbeat lasts while this process's parent (CTest) runs, or the
    # process NB_BOARD_OWNER names.
    owner = os.environ.get("NB_BOARD_OWNER", str(os.getppid()))
    done = subprocess.run(
        [BOARD, "boot", state, owner] + ports, capture_output=True, text=True, timeout=180
    )
    if done.returncode != 0:
        print(done.stdout + done.stderr, file=sys.stderr)
        raise RuntimeError(f"the board did not boot (console {state}/console.log)")
    info["login"] = done.stdout.strip().splitlines()[-1]
    info["boot_seconds"] = round(time.monotonic() - began, 1)
    with open(os.path.join(state, "board.json"), "w") as f:
        json.dump(info, f)
    return Board(state)


def power(state, how):
    subprocess.run([BOARD, how, state], check=True, timeout=60)


# The rows. Each takes the fixture's board, or its folder for the rows that
# boot their own.


def first_boot(board):
    """The form's values at first boot are the factory settings, and eth1,
    the default route and resolv.conf run them."""
    check(
        "first boot: the form shows the factory settings",
        board.form() == factory(),
        f"{board.form()}",
    )
    form_is_port(board, "first boot")


# What each menu page shows on this board; PCI Info shows nothing, for the
# board has no /proc/pci.
SHOWS = {
    "Hardware": 'src="../images/IntelIXP425.jpg"',
    "CPU_Info": "ARMv7 Processor",
    "MEM+Info": "MemTotal:",
    "PCI+Info": None,
    "Wan+Lan+Setting": "NAME=DNS1",
    "Net+Statistics": "inet addr:192.168.1.1",
    "Route+Table": "Kernel IP routing table",
}


def page_shows(name):
    """What the page of request value name shows on this board: a page
    SHOWS does not name is a document with the title."""
    return SHOWS.get(name, f"<TITLE>{pages.TITLE}</TITLE>")


SHELL = f"<HTML><HEAD><TITLE>{pages.TITLE}</TITLE></HEAD><BODY></BODY></HTML>"


def menu_pages(board):
    """Every menu page from the board's own /proc and commands; PCI Info is
    the bare document; all seven in one."""
    shown = [(name, page_shows(name)) for name in pages.VALUES if page_shows(name) is not None]
    for name, shows in shown:
        status, body = board.get(pages.query(name))
        check(f"pages: {name} answers 200", status == 200, f"{status}")
        check(f"pages: {name} shows {shows!r}", shows in body)
    check("pages: PCI+Info is the bare document", board.page("PCI+Info") == SHELL)
    body = board.get(pages.query(*pages.VALUES))[1]
    check("pages: all seven in one document", body.count("</BODY></HTML>") == 1)
    for _, shows in shown:
        check(f"pages: all seven show {shows!r}", shows in body)


def pictures(board):
    """The pictures, byte for byte, with no login."""
    for name in pages.PICTURES:
        status, _, body = nbtest.fetch(board.port, "/images/" + name)
        with open(os.path.join(TOP, "images", name), "rb") as f:
            check(
                f"pictures: {name} is the committed picture, without a login",
                status == 200 and body == f.read(),
                f"{status}",
            )


# Who asks: the credentials sent (True: the board's own), and whether the
# board lets them in.
LOGINS = [
    ("no credentials", None, False),
    ("a wrong password", "admin:wrong", False),
    ("a wrong user", "root:{password}", False),
    ("the board's login", True, True),
]


def login(board):
    """/cgi-bin/ asks for the board's login: without it, 401 and nothing changes."""
    password = board.login.partition(":")[2]
    for who, auth, let_in in LOGINS:
        if isinstance(auth, str):
            auth = auth.format(password=password)
        status, body = board.get(pages.query(pages.HOME), auth=auth)
        check(
            f"login: {who} gets {'the page' if let_in else '401'}",
            status == 200 and "IntelIXP425.jpg" in body if let_in else status == 401,
            f"{status}",
        )
        if let_in:
            continue
        before = snapshot(board)
        status, _ = board.save(
            static_save("10.0.2.66", "255.255.255.0", "10.0.2.2", "10.0.2.3", "10.0.2.4"), auth=auth
        )
        check(f"login: a save with {who} gets 401", status == 401, f"{status}")
        unchanged(board, before, f"login: a save with {who}", wait=1)
    values = static_save("10.0.2.66", "255.255.255.0", "10.0.2.2", "10.0.2.3", "10.0.2.4")
    status, body = board.save(values)
    check(
        "login: a save with the board's login gets the wait page",
        status == 200 and "wait.gif" in body,
    )
    settles(board, values, 20, "login")


def static(board):
    """A static save reaches eth1, the default route, resolv.conf and the form."""
    values = static_save("10.0.2.77", "255.255.255.128", "10.0.2.2", "10.0.2.3", "10.0.2.4")
    status, body = board.save(values)
    check(
        "static: the save answers the wait page",
        status == 200 and 'src="../images/wait.gif"' in body,
    )
    settles(board, values, 20, "static")


def dynamic(board):
    """A dynamic save: eth1 gets the emulator's lease, and the form lists
    Dynamic first."""
    status, body = board.save({**factory(), TYPE: "n"})
    check("dynamic: the save answers the wait page", status == 200 and "wait.gif" in body)
    check(
        "dynamic: within 20 s eth1 has the lease",
        nbtest.within(20, lambda: board.eth1() == LEASE, pause=0.5),
        f"{board.eth1()}",
    )
    check("dynamic: the form lists Dynamic first", board.form()[TYPE] == "n")


# Saves that Configure refuses, each with what it logs; the last sends only
# DNS1, as a hand-made link would.
BASE = static_save("10.0.2.80", "255.255.255.0", "10.0.2.2", "10.0.2.3", "10.0.2.4")
REFUSED = [
    (
        "an address that is none",
        {**BASE, "WAN_IPADDR": "999.1.1.1"},
        'WAN_IPADDR "999.1.1.1" is not an IPv4 address',
    ),
    (
        "a netmask that is none",
        {**BASE, "WAN_NETMASK": "255.0.255.0"},
        'WAN_NETMASK "255.0.255.0" is not an IPv4 netmask',
    ),
    (
        "a gateway off the network",
        {**BASE, "WAN_ROUTE": "10.0.3.1"},
        "gateway 10.0.3.1 is not on 10.0.2.80",
    ),
    ("a save of DNS1 alone", [("DNS1", "10.0.2.9")], 'WAN_STATICIP "" is neither y nor n'),
]


def refused(board):
    """After a save Configure refuses, the form shows again what the port runs."""
    board.save(BASE)
    settles(board, BASE, 20, "refused: the save before")
    for what, values, why in REFUSED:
        log = board.log()
        status, body = board.save(values)
        check(f"refused: {what} answers the wait page", status == 200 and "wait.gif" in body)
        check(
            f"refused: {what}: Configure logs why",
            nbtest.within(15, lambda: why in board.log()[len(log) :], pause=0.5),
            board.log()[len(log) :],
        )
        check(
            f"refused: {what}: within 10 s the form shows the running settings again",
            nbtest.within(10, lambda: board.form() == BASE, pause=0.5),
            f"{board.form()}",
        )
        check(
            f"refused: {what}: the port runs what it ran",
            board.running() == port_of(BASE),
            f"{board.running()}",
        )


def cross_site(board):
    """A save from another site, or with no sign of where it comes from, gets
    the home page and changes nothing."""
    values = static_save("10.0.2.99", "255.255.255.0", "10.0.2.2", "10.0.2.5", "10.0.2.6")
    for site in ("cross", None):
        what = f"cross-site: a save {'from another site' if site else 'with no sign of its origin'}"
        before = snapshot(board)
        status, body = board.save(values, site=site)
        check(f"{what} answers the home page", status == 200 and "IntelIXP425.jpg" in body)
        unchanged(board, before, what)


# One line in Configure's log ends each run: applied, already running,
# refused.
RUN_ENDS = re.compile(
    r"^configure: (eth1 \S+ netmask|eth1: dynamic address|eth1 runs these settings already"
    r"|nothing applied)",
    re.M,
)
PORT_SET = re.compile(r"^configure: eth1 \S+ netmask", re.M)
QUEUED = 30
QUEUED_BOUND = 20


def queued(board):
    """30 saves in a row: the board settles on the last, one apply at a time."""
    log = board.log()
    saves = [
        static_save(
            f"10.0.2.{100 + k}", "255.255.255.0", "10.0.2.2", "10.0.2.3", f"10.0.2.{100 + k}"
        )
        for k in range(QUEUED)
    ]
    answered = sum(1 for values in saves if board.save(values)[0] == 200)
    ended = time.monotonic()
    after = board.log()
    check(f"queued: all {QUEUED} saves answered", answered == QUEUED, f"{answered}")

    def runs_ended():
        now = board.log()
        return now.startswith(log) and len(RUN_ENDS.findall(now[len(log) :])) >= QUEUED

    settled = nbtest.within(QUEUED_BOUND, runs_ended, pause=0.5)
    took = time.monotonic() - ended
    print(f"queued: every Configure had ended {took:.1f} s after the last answer", flush=True)
    check(f"queued: within {QUEUED_BOUND} s every Configure has ended", settled)
    now = board.log()
    check("queued: the log was not cut meanwhile", now.startswith(log) and now.startswith(after))
    check(
        "queued: no 'failed:' line in Configure's log",
        "failed:" not in now[len(log) :],
        now[len(log) :],
    )
    sets = len(PORT_SET.findall(now[len(after) :]))
    print(f"queued: the port was set {sets} times after the last answer", flush=True)
    check("queued: the port was set at most twice after the last answer", sets <= 2, f"{sets}")
    settles(board, saves[-1], 5, "queued: the last save")


def browser(board):
    """The Chromium session of tests/web through the board, logged in."""
    # The session fills the form as it shows this: the program's defaults,
    # saved as dynamic (Configure checks no address of a dynamic save).
    defaults = setting("n")
    board.save(defaults)
    check(
        "browser: the form shows the defaults",
        nbtest.within(20, lambda: board.form() == defaults, pause=1),
    )
    web = os.path.join(TOP, "tests", "web")
    other = ThreadingHTTPServer(("127.0.0.1", 0), quiet_handler(os.path.join(web, "other")))
    threading.Thread(target=other.serve_forever, daemon=True).start()
    shots = os.path.join(board.state, "screenshots")
    tmp = os.path.join(board.state, "browser")
    for d in (shots, tmp):
        os.makedirs(d, exist_ok=True)
    inspect = f"http://127.0.0.1:{board.inspect}"
    # The browser reaches the board by its own name, which it maps to
    # 127.0.0.1, as a person on the LAN would: to a loopback address it
    # would send Sec-Fetch-Site, and the pages without a Referer would test
    # nothing.
    env = dict(
        os.environ,
        NB_BASE=f"http://northbeam:{board.port}",
        NB_OTHER=f"http://127.0.0.1:{other.server_port}",
        NB_SETTINGS=f"{inspect}/config.out",
        NB_LOG=f"{inspect}/configure.log",
        NB_SHOTS=shots,
        NB_TMP=tmp,
        NB_CPU="ARMv7 Processor",
        NB_NET="HWaddr 52:54:00:4E:42:00",
        NB_LOGGED="configure: that is the DHCP lease (bound)\nconfigure: settings kept on flash\n",
        NB_AUTH=board.login,
    )
    try:
        done = subprocess.run(
            ["node", os.path.join(web, "session.mjs")], env=env, cwd=web, timeout=240
        )
        check("browser: the session's checks", done.returncode == 0, f"exit {done.returncode}")
    finally:
        other.shutdown()
    print(f"screenshots: {shots}")


def quiet_handler(folder):
    class Handler(SimpleHTTPRequestHandler):
        def __init__(self, *args, **kwargs):
            super().__init__(*args, directory=folder, **kwargs)

        def log_message(self, *args):
            pass

    return Handler


def watchdog(board):
    """The host side goes as a dead host would: the board powers itself off."""
    power(board.state, "hang-up")
    pid = open(os.path.join(board.state, "qemu.pid")).read().strip()
    gone = nbtest.within(30, lambda: not nbtest.alive(pid), pause=0.5)
    check("watchdog: the board powers off within 30 s of the heartbeat's end", gone)
    with open(os.path.join(board.state, "console.log"), errors="replace") as f:
        check("watchdog: the watchdog says why", "watchdog: no heartbeat: powering off" in f.read())


def power_cycle(state):
    """A save, a clean power-off, a boot: the port and the form show the save."""
    board = boot(os.path.join(state, "cycle"), fresh=True)
    values = static_save("10.0.2.88", "255.255.255.0", "10.0.2.2", "10.0.2.7", "10.0.2.8")
    board.save(values)
    settles(board, values, 20, "power cycle: before")
    power(board.state, "off")
    board = boot(board.state, fresh=False)
    try:
        check(
            "power cycle: the settings file is the save",
            settings_of(board.file("config.out")) == values,
        )
        check(
            "power cycle: eth1 runs the save at once",
            board.eth1() == port_of(values)[:2],
            f"{board.eth1()}",
        )
        form_is_port(board, "power cycle")
    finally:
        power(board.state, "off")


CUTS = 10


def burst(board, saves, sent, stop):
    """Sends saves one after another until stop is set; each is in sent once
    its request has gone out."""
    for values in saves:
        if stop.is_set():
            return
        sent.append(values)
        try:
            board.save(values)
        except OSError:
            return


def power_cuts(state):
    """Power cut at a random moment of a burst of saves, then a boot: the
    settings are whole, one of the saves sent or the last committed, and the
    form shows what the port runs."""
    seed = int(os.environ.get("NB_BOARD_SEED", random.randrange(1 << 30)))
    print(f"power cuts: seed {seed} (NB_BOARD_SEED repeats it)", flush=True)
    rand = random.Random(seed)
    folder = os.path.join(state, "cuts")
    board = boot(folder, fresh=True)
    committed = settings_of(board.file("config.out"))
    try:
        for cut in range(1, CUTS + 1):
            saves = [
                static_save(
                    f"10.0.2.{20 + k}",
                    "255.255.255.0",
                    "10.0.2.2",
                    f"10.0.{cut}.{k + 1}",
                    "10.0.2.3",
                )
                for k in range(40)
            ]
            sent = []
            stop = threading.Event()
            sender = threading.Thread(target=burst, args=(board, saves, sent, stop))
            sender.start()
            moment = rand.uniform(0.3, 4.0)
            time.sleep(moment)
            power(folder, "cut")
            stop.set()
            sender.join(60)
            board = boot(folder, fresh=False)
            found = settings_of(board.file("config.out"))
            if found == committed:
                left = "the settings before the burst"
            elif found in sent:
                left = f"save {sent.index(found) + 1} of {len(sent)} sent"
            else:
                left = f"neither: {found}"
            print(
                f"power cut {cut} at {moment:.1f} s: {left}; booted in {board_boot_seconds(folder)} s",
                flush=True,
            )
            check(
                f"power cut {cut}: the settings are whole, a save sent or the last committed",
                found == committed or found in sent,
                f"{found}",
            )
            check(
                f"power cut {cut}: eth1 runs them",
                board.eth1() == port_of(found)[:2],
                f"{board.eth1()}",
            )
            form_is_port(board, f"power cut {cut}")
            committed = found
    finally:
        power(folder, "off")


def board_boot_seconds(folder):
    with open(os.path.join(folder, "board.json")) as f:
        return json.load(f)["boot_seconds"]


# Configure's table on a board of its own: the rows' script as a CGI of the
# test boot's inspect server, and an /etc/passwd that names the Debian web
# server's user, in an archive of their own over the image.
PASSWD = "root:x:0:0:root:/root:/bin/sh\nwww-data:x:33:33:www-data:/var/www:/bin/false\n"
GROUP = "root:x:0:\nwww-data:x:33:\n"


def configure_overlay(folder):
    overlay = os.path.join(folder, "overlay")
    cgi = os.path.join(overlay, "var", "inspect", "cgi-bin")
    os.makedirs(cgi)
    os.makedirs(os.path.join(overlay, "etc"))
    shutil.copy(configure.ROWS_SCRIPT, os.path.join(cgi, "configure-rows"))
    for name, text in (("passwd", PASSWD), ("group", GROUP)):
        with open(os.path.join(overlay, "etc", name), "w") as f:
            f.write(text)
    nbtest.pack_overlay(overlay, os.path.join(folder, "overlay.cpio.gz"))


def configure_table(state):
    """Configure's table (tests/stages/configure.py) against the board's own
    /etc/Configure, as root, with the kernel's guards for links, FIFOs and
    files in /tmp off, so that only Configure's own checks hold."""
    folder = os.path.join(state, "configure")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    configure_overlay(folder)
    board = boot(folder, fresh=False)

    def run(*args):
        status, _, body = nbtest.fetch(
            board.inspect, "/cgi-bin/configure-rows?" + "+".join(args), timeout=60
        )
        check(f"configure: the board runs the row script ({' '.join(args)})", status == 200)
        return body.decode("latin-1")

    try:
        guards = configure.report_of(run("unprotect"))
        for guard in ("protected_symlinks", "protected_fifos", "protected_regular"):
            check(f"configure: the board's {guard} is off", guards.get(guard) == "0", f"{guards}")
        configure.run_rows(lambda *row: run("/etc/Configure", *row), check)
    finally:
        power(folder, "off")


# The table: name, and whether the row uses the fixture's board (else it
# boots its own, in a folder below the fixture's).
ROWS = [
    ("first_boot", first_boot, True),
    ("pages", menu_pages, True),
    ("pictures", pictures, True),
    ("login", login, True),
    ("static", static, True),
    ("dynamic", dynamic, True),
    ("refused", refused, True),
    ("cross_site", cross_site, True),
    ("queued", queued, True),
    ("browser", browser, True),
    ("watchdog", watchdog, True),
    ("power_cycle", power_cycle, False),
    ("power_cuts", power_cuts, False),
    ("configure", configure_table, False),
]


def main(argv):
    if argv == ["rows"]:
        print(";".join(f"{name}:{'fixture' if fixture else 'own'}" for name, _, fixture in ROWS))
        return 0
    if len(argv) == 2 and argv[0] == "boot":
        board = boot(argv[1], fresh=True)
        print(
            f"board: answers on 127.0.0.1:{board.port} after {board_boot_seconds(argv[1])} s "
            f"(console {argv[1]}/console.log)"
        )
        return 0
    if len(argv) == 2 and argv[0] == "off":
        power(argv[1], "off")
        with open(os.path.join(argv[1], "console.log"), errors="replace") as f:
            return (
                1
                if not check("board: the kernel did not panic", "Kernel panic" not in f.read())
                else 0
            )
    if len(argv) == 3 and argv[0] == "row":
        rows = {name: (run, fixture) for name, run, fixture in ROWS}
        if argv[1] not in rows:
            print(__doc__, file=sys.stderr)
            return 2
        run, fixture = rows[argv[1]]
        began = time.monotonic()
        run(Board(argv[2]) if fixture else argv[2])
        print(f"board.{argv[1]}: {time.monotonic() - began:.0f} s, {len(failures)} failed checks")
        return 1 if failures else 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
