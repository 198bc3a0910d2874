"""100 browsers at once through busybox httpd on 127.0.0.1, mixing saves,
form reads and command pages for a bounded time:
  load.py DIR PROGRAM [SECONDS]    (default 15 seconds)
PROGRAM is a build whose board root is DIR/board. Fails on any torn settings
file, mixed-up command output, lost or hung request, or a process left behind.
"""

import http.client
import os
import random
import re
import sys
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib"))
import pages  # noqa: E402
import standin  # noqa: E402
import web  # noqa: E402

CLIENTS = 100
FIELDS = ["WAN_IPADDR", "WAN_NETMASK", "WAN_ROUTE", "DNS1", "DNS2"]
VALUE = re.compile(r"NAME=(\w+) VALUE=\"([^\"]*)\"")
# A command page's line: the command's name, its PID and the line's number.
COMMAND_LINE = re.compile(r"^        (ifconfig|route) (\d+) (\d)$")


def listen_overflows():
    """Connections this machine's kernel has turned away for want of room in
    a server's queue of connections not yet taken, so far."""
    with open("/proc/net/netstat") as f:
        lines = [line.split() for line in f if line.startswith("TcpExt:")]
    return int(dict(zip(lines[0], lines[1])).get("ListenOverflows", 0))


def save_query(i):
    return "rc=2&WAN_STATICIP=Static+IP+Address&" + "&".join(f"{f}=10.{i}.{i}.{k}" for k, f in enumerate(FIELDS))


def save_text(i):
    return "WAN_STATICIP=y\n" + "".join(f'{f}="10.{i}.{i}.{k}"\n' for k, f in enumerate(FIELDS))


def whole_save(body):
    """A form shows one save's five values, all of the same save."""
    seen = dict(VALUE.findall(body))
    if sorted(seen) != sorted(FIELDS):
        return False
    i = seen["WAN_IPADDR"].split(".")[1]
    return all(seen[f] == f"10.{i}.{i}.{k}" for k, f in enumerate(FIELDS))


def one_run(body, command):
    """A command page lists the eight lines of one run of its own command."""
    pre = body.split("<pre>")[1].split("</pre>")[0].splitlines() if "<pre>" in body else []
    found = [COMMAND_LINE.match(line) for line in pre]
    return (len(found) == 8 and all(found) and {m.group(1) for m in found} == {command}
            and len({m.group(2) for m in found}) == 1 and [m.group(3) for m in found] == list("12345678"))


class Load:
    def __init__(self, port, seconds):
        self.port = port
        self.seconds = seconds
        self.end = time.monotonic() + seconds
        self.lock = threading.Lock()
        self.counts = {"save": 0, "form": 0, "command": 0}
        self.wrong = []
        # The board's own form sends its saves: they carry its address.
        self.referer = f"http://127.0.0.1:{port}" + pages.path(pages.FORM)

    def get(self, path, headers=None):
        # busybox httpd keeps a short queue of connections: on a busy
        # machine a client may wait many seconds to be let in. A minute is a hang.
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        try:
            c.request("GET", path, headers=dict({"Connection": "close"}, **(headers or {})))
            r = c.getresponse()
            return r.status, r.read().decode("latin-1")
        finally:
            c.close()

    def pick(self, rnd):
        """A request as one of the clients sends it: its kind, path, headers,
        and the check of its answer's body."""
        x = rnd.random()
        if x < 0.3:
            path = "/cgi-bin/northbeam?" + save_query(rnd.randint(1, 9))
            return "save", path, {"Referer": self.referer}, lambda body: body.endswith("</html>") and "wait.gif" in body
        if x < 0.7:
            return "form", pages.path(pages.FORM), {}, whole_save
        command = rnd.choice(["ifconfig", "route"])
        return "command", pages.path(pages.COMMANDS[command]), {}, lambda body: one_run(body, command)

    def client(self, seed):
        rnd = random.Random(seed)
        while time.monotonic() < self.end:
            kind, path, headers, good = self.pick(rnd)
            try:
                status, body = self.get(path, headers)
                ok = status == 200 and good(body)
            except Exception as e:
                ok, body = False, repr(e)
            with self.lock:
                self.counts[kind] += 1
                if not ok:
                    self.wrong.append((path, body[-300:]))

    def run(self, settings):
        overflows = listen_overflows()
        # Every form read must show one whole save: start from one.
        self.get("/cgi-bin/northbeam?" + save_query(1), {"Referer": self.referer})
        threads = [threading.Thread(target=self.client, args=(n,)) for n in range(CLIENTS)]
        for t in threads:
            t.start()
        for t in threads:
            t.join(self.seconds + 90)
        if any(t.is_alive() for t in threads):
            self.wrong.append(("", "a client hung"))
        with open(settings) as f:
            final = f.read()
        if final not in {save_text(i) for i in range(1, 10)}:
            self.wrong.append(("settings file", final))
        left = [n for n in os.listdir(os.path.dirname(settings)) if n.startswith("config.out.")]
        if left:
            self.wrong.append(("temporary files left", " ".join(left)))
        for what, answer in self.wrong[:5]:
            print("WRONG:", what, "->", answer)
        if self.wrong:
            # busybox httpd keeps a short queue of connections; one turned away too
            # often gives up after a minute, a fault of a busy machine rather
            # than of the program.
            print(f"load: the kernel turned away {listen_overflows() - overflows} connections meanwhile")
        c = self.counts
        print(f"load: {sum(c.values())} requests in {self.seconds:g} s by {CLIENTS} clients ({c['save']} saves, "
              f"{c['form']} form reads, {c['command']} command pages), {len(self.wrong)} wrong")
        return 1 if self.wrong else 0


def main(argv):
    if len(argv) not in (2, 3):
        print(__doc__, file=sys.stderr)
        return 2
    stage = web.Stage(argv[0])
    seconds = float(argv[2]) if len(argv) == 3 else 15
    if not web.own_folder(stage.dir):
        return 1
    standin.lay_board("load", stage.board, stage.log)
    standin.lay_docroot(stage.www, argv[1])
    web.give_to_user(os.path.join(stage.board, "tmp"))
    web.give_to_user(stage.log)
    if web.start(stage, "busybox"):
        return 1
    rc = 1
    try:
        rc = Load(stage.port("busybox"), seconds).run(stage.settings)
    finally:
        # Every apply reaches its end and nothing is left behind.
        stopped = web.stop(stage, "busybox")
    return rc or stopped


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
