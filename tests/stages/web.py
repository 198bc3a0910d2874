"""The program behind the web servers an integrator puts it behind, each on a
free 127.0.0.1 port, with one table of checks run through each:
  web.py DIR docroot PROGRAM        lays the stand-in board and the document root in DIR
  web.py DIR start SERVER           starts SERVER in a session of its own
  web.py DIR stop SERVER            stops it; fails when an apply did not reach its end,
                                    or a process of the server or the program was left behind
  web.py DIR check SERVER CHECK     one check of the table through SERVER
  web.py DIR browser                the Chromium session of tests/web against busybox httpd,
                                    with another site's pages on the server "other"
  web.py DIR list servers|checks    the names, for CTest
The servers' files are those of examples/ an integrator takes (nginx's snippet inside
tests/web/servers/nginx.conf), with @ADDRESS@, @PORT@, @DOCROOT@ and @RUN@ filled in.
As root, every server and the program run as www-data, as a Debian server's do.
"""

import grp
import http.client
import os
import pwd
import random
import re
import shutil
import signal
import stat
import subprocess
import sys
import time

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib")
)
import nbtest  # noqa: E402
import pages  # noqa: E402
import standin  # noqa: E402

SOURCE = standin.SOURCE
# A clean environment for the servers and the programs they start.
ENV = {"PATH": "/usr/sbin:/usr/bin:/sbin:/bin", "LANG": "C.UTF-8"}

# Each server: its file in the source (or none), its document root (the
# board's, or a folder of the source), and the commands that start it in the
# foreground, its helpers first. {conf}, {address}, {port}, {docroot} and
# {run} are filled in.
SERVERS = {
    "busybox": (
        None,
        None,
        [["busybox", "httpd", "-f", "-p", "{address}:{port}", "-h", "{docroot}"]],
    ),
    "lighttpd": ("examples/lighttpd.conf", None, [["lighttpd", "-D", "-f", "{conf}"]]),
    "apache": ("examples/apache2.conf", None, [["apache2", "-f", "{conf}", "-DFOREGROUND"]]),
    "nginx": (
        "tests/web/servers/nginx.conf",
        None,
        [
            ["fcgiwrap", "-s", "unix:{run}/fcgiwrap.sock"],
            ["nginx", "-p", "{run}", "-e", "{run}/error.log", "-c", "{conf}"],
        ],
    ),
    "mini_httpd": ("examples/mini_httpd.conf", None, [["mini_httpd", "-C", "{conf}", "-D"]]),
    # Another site, for the browser: the pages that try to save the board's settings.
    "other": (
        None,
        "tests/web/other",
        [["busybox", "httpd", "-f", "-p", "{address}:{port}", "-h", "{docroot}"]],
    ),
}
# The snippet a server's file includes from its folder, as the package ships
# it: the file, and each install path it names with the stage's own. A path
# the snippet no longer names is a fault: the stage would run another file.
SNIPPETS = {
    "nginx": (
        "examples/nginx-northbeam.conf",
        {
            "/usr/lib/cgi-bin/": "{docroot}/cgi-bin/",
            "/usr/share/northbeam/images/": "{docroot}/images/",
            "unix:/run/fcgiwrap.socket": "unix:{run}/fcgiwrap.sock",
        },
    ),
}
BOARD_SERVERS = [name for name, (_, docroot, _) in SERVERS.items() if docroot is None]

TITLE = pages.TITLE
# What follows the wait page's document: the refresh home after 5 seconds.
REFRESH = (
    f'<meta http-equiv="refresh" content="5; url={pages.path(pages.HOME)}">'
    f"<html><head><title>{TITLE}</title></head><body></body></html>"
)
WAIT_PICTURE = '<img border="0" src="../images/wait.gif" width="60" height="60">'


def server_user():
    """The user the servers run as: www-data for root, as on Debian; else whoever runs the tests."""
    if os.geteuid() == 0:
        return "www-data", "www-data"
    return pwd.getpwuid(os.geteuid()).pw_name, grp.getgrgid(os.getegid()).gr_name


def as_user():
    """subprocess arguments that run a command as the servers' user."""
    if os.geteuid() != 0:
        return {}
    user, group = server_user()
    return {"user": user, "group": group, "extra_groups": []}


def give_to_user(path):
    if os.geteuid() == 0:
        user, group = server_user()
        shutil.chown(path, user, group)


class Stage:
    """The web stage's folder: the board, the document root, the Configure log
    and a folder for each server."""

    def __init__(self, where):
        self.dir = os.path.abspath(where)
        self.board = os.path.join(self.dir, "board")
        self.www = os.path.join(self.dir, "www")
        self.log = os.path.join(self.dir, "configure.log")
        self.settings = os.path.join(self.board, "tmp", "config.out")
        self.program = os.path.join(self.www, "cgi-bin", "northbeam")

    def run_dir(self, server):
        return os.path.join(self.dir, server)

    def port(self, server):
        with open(os.path.join(self.run_dir(server), "port")) as f:
            return int(f.read())

    def read(self, path):
        """A file's bytes, or None without one."""
        try:
            with open(path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return None

    def direct(self, query, extra=None):
        """The body that the program writes when run directly as the servers
        run it, for QUERY (None: none at all)."""
        return nbtest.direct(self.program, query, dict(ENV, **(extra or {})), as_user())


# ---- fixtures ------------------------------------------------------------


def own_folder(path):
    """Makes path, and the folder it is in, folders of this user's that others
    may pass; False when something else stands there (a link or another
    user's folder in /tmp)."""
    os.makedirs(path, mode=0o755, exist_ok=True)
    for folder in (os.path.dirname(path), path):
        st = os.lstat(folder)
        if not stat.S_ISDIR(st.st_mode) or st.st_uid != os.geteuid():
            print(f"{folder} is not a folder of this user's", file=sys.stderr)
            return False
        os.chmod(folder, 0o755)
    return True


def docroot(stage, program):
    if not own_folder(stage.dir):
        return 1
    standin.lay_board("web", stage.board, stage.log)
    standin.lay_docroot(stage.www, program)
    give_to_user(os.path.join(stage.board, "tmp"))
    give_to_user(stage.log)
    # The servers run the program as their user, which must reach it.
    try:
        home = stage.direct(None)
    except PermissionError as e:
        print(
            f"{server_user()[0]} cannot run {stage.program}: every folder above the build "
            f"folder must let others through (o+x): {e}",
            file=sys.stderr,
        )
        return 1
    if TITLE.encode() not in home:
        print(
            f"{stage.program} run as {server_user()[0]} gave no home page: {home[:300]!r}",
            file=sys.stderr,
        )
        return 1
    print(f"board {stage.board}, document root {stage.www}, servers run as {server_user()[0]}")
    return 0


def fill(text, values):
    for key, value in values.items():
        text = text.replace("@" + key.upper() + "@", value)
    return text


def snippet(server, values, edit=None):
    """The snippet SERVER's file includes, edited by edit (text to text) and
    with the stage's paths for the install paths; None when one is missing."""
    name, paths = SNIPPETS[server]
    with open(os.path.join(SOURCE, name)) as f:
        text = f.read()
    if edit:
        text = edit(text)
        if text is None:
            print(f"{name} no longer reads as the edit expects", file=sys.stderr)
            return None
    for path, ours in paths.items():
        if path not in text:
            print(f"{name} no longer names {path}", file=sys.stderr)
            return None
        text = text.replace(path, ours.format(**values))
    return text


def launch(stage, server, run, address, port, edit=None, commands=None):
    """Lays SERVER's files in run, the snippet edited by edit, and starts it
    (by commands in place of its own) on address:port: its processes' (pid,
    name), or None when its files could not be laid."""
    conf_name, docroot_dir, own = SERVERS[server]
    commands = commands or own
    shutil.rmtree(run, ignore_errors=True)
    os.makedirs(run)
    give_to_user(run)
    values = {"address": address, "port": str(port), "run": run, "docroot": stage.www}
    if docroot_dir:
        # A copy in the server's folder, which its user can reach wherever the source is.
        values["docroot"] = os.path.join(run, "site")
        shutil.copytree(os.path.join(SOURCE, docroot_dir), values["docroot"])
    files = {}
    if conf_name:
        values["conf"] = os.path.join(run, os.path.basename(conf_name))
        with open(os.path.join(SOURCE, conf_name)) as f:
            files[values["conf"]] = fill(f.read(), values)
    if server in SNIPPETS:
        files[os.path.join(run, os.path.basename(SNIPPETS[server][0]))] = snippet(
            server, values, edit
        )
    if None in files.values():
        return None
    for path, text in files.items():
        with open(path, "w") as f:
            f.write(text)
    pids = []
    # Each in a session of its own with its output on a log: detached from
    # CTest, which would otherwise wait for the output to close.
    with open(os.path.join(run, "server.log"), "ab") as out:
        for command in commands:
            args = [word.format(**values) for word in command]
            p = subprocess.Popen(
                args,
                stdin=subprocess.DEVNULL,
                stdout=out,
                stderr=subprocess.STDOUT,
                env=ENV,
                cwd=run,
                start_new_session=True,
                **as_user(),
            )
            pids.append((p.pid, args[0]))
            # A helper listens on a socket: the server needs it there.
            sockets = [a.split("unix:", 1)[1] for a in args if a.startswith("unix:")]
            if sockets and not nbtest.within(10, lambda: os.path.exists(sockets[0]), 0.05):
                print(f"{args[0]} made no socket {sockets[0]}", file=sys.stderr)
    with open(os.path.join(run, "pids"), "w") as f:
        f.write("".join(f"{pid} {name}\n" for pid, name in pids))
    with open(os.path.join(run, "port"), "w") as f:
        f.write(str(port))
    return pids


def start(stage, server):
    run = stage.run_dir(server)
    port = nbtest.free_port()
    pids = launch(stage, server, run, "127.0.0.1", port)
    if pids is None:
        return 1
    if not nbtest.wait_http(port, 15):
        print(f"{server} does not answer on 127.0.0.1:{port}; its log:", file=sys.stderr)
        print(
            open(os.path.join(run, "server.log"), errors="replace").read()[-3000:], file=sys.stderr
        )
        stop_pids(run)
        return 1
    print(
        f"{server} on 127.0.0.1:{port} (pids {' '.join(str(pid) for pid, _ in pids)}, files in {run})"
    )
    return 0


def stop_pids(run):
    """Ends a server's processes, the server before its helpers; False when
    one outlived 10 seconds and had to be killed."""
    try:
        with open(os.path.join(run, "pids")) as f:
            pids = [line.split() for line in f]
    except FileNotFoundError:
        return True
    ours = []
    for pid, name in reversed(pids):
        # Only the program started, should its number have gone to another.
        try:
            if os.path.basename(os.readlink(f"/proc/{pid}/exe")) != name:
                continue
            os.kill(int(pid), signal.SIGTERM)
            ours.append(int(pid))
        except (FileNotFoundError, ProcessLookupError):
            pass
    if nbtest.within(10, lambda: not any(nbtest.alive(p) for p in ours), 0.05):
        return True
    for pid in ours:
        if nbtest.alive(pid):
            os.kill(pid, signal.SIGKILL)
    return False


def unfinished_applies(stage):
    """What the log shows of applies that have not reached their end."""
    text = (stage.read(stage.log) or b"").decode(errors="replace")
    called = len(re.findall(r" configure \d+ called$", text, re.M))
    started = set(re.findall(r" configure (\d+) start:", text))
    ended = set(re.findall(r" configure (\d+) end:", text))
    wrong = [f"apply {pid} has no end" for pid in sorted(started - ended)]
    if called != len(started):
        wrong.append(f"Configure was called {called} times and started {len(started)} applies")
    return wrong


def left_behind(markers):
    """Processes whose command line or working folder names one of the
    markers (an nginx worker names nothing but its folder): (pid, command line)."""
    found = []
    for entry in os.listdir("/proc"):
        if not entry.isdigit() or int(entry) == os.getpid():
            continue
        try:
            with open(f"/proc/{entry}/cmdline", "rb") as f:
                line = f.read().replace(b"\0", b" ").decode(errors="replace").strip()
            folder = os.readlink(f"/proc/{entry}/cwd") + "/"
        except OSError:
            continue
        named = any(m in line or folder.startswith(m) for m in markers)
        if line and named and nbtest.alive(entry):
            found.append((int(entry), line))
    return found


def stop(stage, server):
    wrong = []
    run = stage.run_dir(server)
    if not stop_pids(run):
        wrong.append(f"{server} did not stop within 10 s of SIGTERM")
    # Every apply of the saves so far reaches its end (2 s each here).
    nbtest.within(10, lambda: not unfinished_applies(stage))
    wrong += unfinished_applies(stage)
    # Nothing of the server, the program or Configure outlives the server.
    markers = [run + "/", stage.board + "/", stage.www + "/cgi-bin/"]
    if not nbtest.within(5, lambda: not left_behind(markers)):
        for pid, line in left_behind(markers):
            wrong.append(f"left behind: {pid} {line}")
            os.kill(pid, signal.SIGKILL)
    for line in wrong:
        print("FAIL", line)
    print(f"{server} stopped" + (", with faults" if wrong else ", nothing left behind"))
    return 1 if wrong else 0


# ---- the checks ----------------------------------------------------------


def is_html(headers):
    return headers.get("content-type", "").lower().startswith("text/html")


def same_as_program(stage, port, queries):
    """Each request's answer through the server is the program's own, byte for byte."""
    wrong = []
    for query in queries:
        path = "/cgi-bin/northbeam" + ("" if query is None else "?" + query)
        status, headers, body = nbtest.fetch(port, path)
        if status != 200 or not is_html(headers):
            wrong.append(f"{path}: {status} {headers.get('content-type')}")
        elif body != stage.direct(query):
            wrong.append(f"{path}: not the program's own answer ({len(body)} bytes)")
    return wrong


def same_site(port):
    """What the board's own form sends with a save."""
    return {"Referer": f"http://127.0.0.1:{port}" + pages.path(pages.FORM)}


def other_site(port):
    """Another site's page on the same machine: another port is another origin."""
    return {"Referer": f"http://127.0.0.1:{port + 1}/attack.html"}


def no_signal(port):
    """A script or a no-referrer page: nothing tells where the save came from."""
    return {}


def typed(port):
    """A typed or bookmarked save URL, or a link opened from a mail: the
    browser says only that the person started it."""
    return {"Sec-Fetch-Site": "none"}


def save_query(dns):
    return f"rc=2&WAN_STATICIP=Dynamic+IP+Address&WAN_IPADDR=10.1.10.227&DNS1={dns}"


def applied(stage, since, text):
    """Whether the log, past offset since, shows an apply of text that reached its end."""
    log = (stage.read(stage.log) or b"")[since:].decode(errors="replace")
    starts = re.findall(r" configure (\d+) start: (.*)$", log, re.M)
    return any(got == text and re.search(rf" configure {pid} end: ", log) for pid, got in starts)


def accepted_save(stage, port, signal_of):
    headers = signal_of(port)
    dns = f"10.{random.randint(0, 255)}.{random.randint(0, 255)}.9"
    since = len(stage.read(stage.log) or b"")
    status, got, body = nbtest.fetch(port, "/cgi-bin/northbeam?" + save_query(dns), headers)
    wrong = []
    if status != 200 or not is_html(got):
        wrong.append(f"save answers {status} {got.get('content-type')}")
    if WAIT_PICTURE.encode() not in body or not body.endswith(REFRESH.encode()):
        wrong.append(f"save answers no wait page: {body[-300:]!r}")
    saved = f'WAN_STATICIP=n\nWAN_IPADDR="10.1.10.227"\nDNS1="{dns}"\n'
    if stage.read(stage.settings) != saved.encode():
        wrong.append(f"settings file holds {stage.read(stage.settings)!r}")
    # Configure applies beside the wait page, 2 s here.
    if not nbtest.within(8, lambda: applied(stage, since, saved.replace("\n", " "))):
        wrong.append(
            f"no apply of the save reached its end; log: {stage.read(stage.log)[since:]!r}"
        )
    return wrong


def refused_save(stage, port, signal_of):
    headers = signal_of(port)
    before = stage.read(stage.settings), stage.read(stage.log)
    status, got, body = nbtest.fetch(port, "/cgi-bin/northbeam?" + save_query("6.6.6.6"), headers)
    wrong = []
    if status != 200 or body != stage.direct(None):
        wrong.append(f"refused save answers {status}, not the home page: {body[:200]!r}")
    # A Configure would have logged its call before the answer ended; give it a moment all the same.
    time.sleep(0.3)
    if (stage.read(stage.settings), stage.read(stage.log)) != before:
        wrong.append("refused save changed the settings file or started Configure")
    return wrong


def head(stage, port, _=None):
    """HEAD on a raw connection: the header and nothing after it. A body
    would be taken by a keep-alive client for the next answer."""
    request = (
        f"HEAD {pages.path(pages.HOME)} HTTP/1.0\r\n" f"Host: 127.0.0.1:{port}\r\n\r\n"
    ).encode()
    answer = nbtest.raw(port, request)
    ends = [i + len(sep) for sep in (b"\r\n\r\n", b"\n\n") for i in [answer.find(sep)] if i >= 0]
    if not ends:
        return [f"HEAD answer has no end of header: {answer[:300]!r}"]
    header, body = answer[: min(ends)], answer[min(ends) :]
    wrong = []
    if not re.match(rb"HTTP/1\.[01] 200 ", header):
        wrong.append(f"HEAD answers {header[:40]!r}")
    if not re.search(rb"(?im)^content-type: text/html", header):
        wrong.append(f"HEAD answer is not text/html: {header!r}")
    if body:
        wrong.append(f"HEAD answer has a body of {len(body)} bytes: {body[:100]!r}")
    return wrong


# The program's own protective headers: no framing by another site, no
# guessed types, the Referer kept to the board. Each must come through a
# server once, as sent: a server that drops one lets another site frame the
# form, and one that adds its own beside it sends two that a browser may
# read either way.
PROTECTIVE = {
    "x-frame-options": "DENY",
    "content-security-policy": "frame-ancestors 'none'",
    "x-content-type-options": "nosniff",
    "referrer-policy": "same-origin",
}


def protective(stage, port, queries):
    """GET and HEAD of each page carry each protective header once, and no
    server's own policy besides (a default-src would block nothing the
    pages need today, and anything a page needs tomorrow)."""
    wrong = []
    for method in ("GET", "HEAD"):
        for query in queries:
            request = (
                f"{method} /cgi-bin/northbeam?{query} HTTP/1.0\r\nHost: 127.0.0.1:{port}\r\n\r\n"
            )
            answer = nbtest.raw(port, request.encode())
            header = re.split(rb"\r?\n\r?\n", answer, maxsplit=1)[0].decode("latin-1")
            fields = [line.partition(":") for line in header.splitlines()[1:]]
            for name, value in PROTECTIVE.items():
                got = [v.strip() for n, _, v in fields if n.strip().lower() == name]
                if got != [value]:
                    wrong.append(f"{method} ?{query}: {name} is {got}, not once {value!r}")
            if "default-src" in header:
                wrong.append(f"{method} ?{query}: a default-src: {header!r}")
    return wrong


def pictures(stage, port, _=None):
    wrong = []
    for name in pages.PICTURES:
        status, headers, body = nbtest.fetch(port, "/images/" + name)
        kind = "image/gif" if name.endswith(".gif") else "image/jpeg"
        if status != 200 or headers.get("content-type") != kind:
            wrong.append(f"/images/{name}: {status} {headers.get('content-type')}")
        elif body != stage.read(os.path.join(pages.IMAGES, name)):
            wrong.append(f"/images/{name} is not the committed picture")
    return wrong


def post(stage, port, _=None):
    """The program reads a POST and answers nothing: the server makes that an
    error of its own (lighttpd, Apache, nginx), or closes the connection
    (busybox httpd, mini_httpd). Nothing is saved, and nothing hangs."""
    before = stage.read(stage.settings), stage.read(stage.log)
    body = b"rc=2&WAN_STATICIP=Static+IP+Address&DNS1=10.9.9.9"
    headers = dict(same_site(port), **{"Content-Type": "application/x-www-form-urlencoded"})
    wrong = []
    try:
        status, _, answer = nbtest.fetch(
            port, "/cgi-bin/northbeam?rc=2&DNS1=10.9.9.8", headers, "POST", body, timeout=10
        )
        if status < 500 or TITLE.encode() in answer:
            wrong.append(f"POST answers {status}: {answer[:200]!r}")
    except http.client.RemoteDisconnected:
        pass
    except TimeoutError:
        wrong.append("POST got no answer within 10 s")
    time.sleep(0.3)
    if (stage.read(stage.settings), stage.read(stage.log)) != before:
        wrong.append("POST changed the settings file or started Configure")
    return wrong


# The checks run through every server, by name: the check, and what it is given.
CHECKS = {
    "pages": (same_as_program, [pages.query(value) for value in pages.VALUES]),
    "multi-page": (
        same_as_program,
        ["rc=1&index_link=Hardware&index_link=Route+Table&index_link=CPU_Info" "&foo=%3Cb%3E"],
    ),
    "bare": (same_as_program, [None]),
    "debug": (same_as_program, ["rc=7&x=%3Cy%3E", "rc=1&index_link=Nowhere"]),
    "pictures": (pictures, None),
    "head": (head, None),
    "protective-headers": (protective, [pages.query(pages.HOME), pages.query(pages.FORM)]),
    "same-site-save": (accepted_save, same_site),
    "cross-site-save": (refused_save, other_site),
    "no-signal-save": (refused_save, no_signal),
    "typed-save": (refused_save, typed),
    "post": (post, None),
}


def check(stage, server, name):
    run, given = CHECKS[name]
    wrong = run(stage, stage.port(server), given)
    for line in wrong:
        print(f"FAIL {server} {name}: {line}")
    print(f"{server} {name}: {'FAILED' if wrong else 'ok'}")
    return 1 if wrong else 0


# ---- the browser ---------------------------------------------------------


def browser(stage):
    web = os.path.join(SOURCE, "tests", "web")
    if not os.path.isdir(os.path.join(web, "node_modules", "playwright-core")):
        print("no playwright-core: run npm ci in tests/web (scripts/test does)", file=sys.stderr)
        return 1
    # The session fills the form from the defaults.
    if os.path.exists(stage.settings):
        os.remove(stage.settings)
    shots = os.path.join(stage.dir, "screenshots")
    tmp = os.path.join(stage.dir, "browser")
    for folder in (shots, tmp):
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
    # The board by this machine's name, as a browser in the field reaches a
    # board: Chromium sends Sec-Fetch-Site to loopback addresses, but not to
    # a name, so every save there must prove itself by its Referer. The
    # browser maps every name to 127.0.0.1.
    board = f"http://{os.uname().nodename}:{stage.port('busybox')}"
    env = dict(
        os.environ,
        NB_BASE=board,
        NB_OTHER=f"http://127.0.0.1:{stage.port('other')}",
        NB_SETTINGS=stage.settings,
        NB_LOG=stage.log,
        NB_SHOTS=shots,
        NB_TMP=tmp,
    )
    done = subprocess.run(["node", os.path.join(web, "session.mjs")], env=env, cwd=web, timeout=240)
    print(f"screenshots: {shots}")
    return done.returncode


def main(argv):
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    stage, command, args = Stage(argv[0]), argv[1], argv[2:]
    if command == "docroot" and len(args) == 1:
        return docroot(stage, args[0])
    if command == "start" and len(args) == 1 and args[0] in SERVERS:
        return start(stage, args[0])
    if command == "stop" and len(args) == 1 and args[0] in SERVERS:
        return stop(stage, args[0])
    if command == "check" and len(args) == 2 and args[0] in SERVERS and args[1] in CHECKS:
        return check(stage, args[0], args[1])
    if command == "browser" and not args:
        return browser(stage)
    if command == "list" and args == ["servers"]:
        print(";".join(BOARD_SERVERS))
        return 0
    if command == "list" and args == ["checks"]:
        print(";".join(CHECKS))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
