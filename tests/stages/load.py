"""100 browsers at once through busybox httpd on 127.0.0.1, mixing saves,
form reads and command pages for a bounded time:
  load.py DIR PROGRAM [SECONDS]    (default 15 seconds)
PROGRAM is a build whose board root is DIR/board. It judges what the program
answers and what it leaves: every answer must be whole and the right page
(a form showing one whole save, a command page one run of its own command,
the wait page), and the settings file one whole save's text, with no
temporary file, unfinished apply or process left behind. A connection that
busybox httpd or this machine's kernel turned away before any byte of an
answer (refused, reset, or not taken within a few seconds) is counted and
reported: it is the server's short queue on a busy machine, not the program.
"""

import os
import random
import re
import socket
import sys
import threading
import time

sys.path.insert(
    0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "pylib")
)
import pages  # noqa: E402
import standin  # noqa: E402
import web  # noqa: E402

CLIENTS = 100
# Seconds a connection may wait to be taken. busybox httpd keeps a queue of
# nine; past it the kernel drops the connection's first packets, and the
# client's own retries would wait up to a minute.
CONNECT_SECONDS = 5
# Seconds from the request to the end of its answer: past it the request hung.
ANSWER_SECONDS = 60
SAVES = range(1, 10)
# The form's text fields, which every save fills.
FIELDS = pages.TEXT_FIELDS
# A command page's line: the command's name, its PID and the line's number.
COMMAND_LINE = re.compile(r"^        (ifconfig|route) (\d+) (\d)$")
PID = re.compile(rb"(        (?:ifconfig|route)) \d+ ")


def listen_overflows():
    """Connections this machine's kernel has turned away for want of room in
    a server's queue of connections not yet taken, so far."""
    with open("/proc/net/netstat") as f:
        lines = [line.split() for line in f if line.startswith("TcpExt:")]
    return int(dict(zip(lines[0], lines[1])).get("ListenOverflows", 0))


def save_query(i):
    return "rc=2&WAN_STATICIP=Static+IP+Address&" + "&".join(
        f"{f}=10.{i}.{i}.{k}" for k, f in enumerate(FIELDS)
    )


def save_text(i):
    return "WAN_STATICIP=y\n" + "".join(f'{f}="10.{i}.{i}.{k}"\n' for k, f in enumerate(FIELDS))


def one_run(body, command):
    """A command page lists the eight lines of one run of its own command."""
    text = body.decode("latin-1")
    pre = text.split("<pre>")[1].split("</pre>")[0].splitlines() if "<pre>" in text else []
    found = [COMMAND_LINE.match(line) for line in pre]
    return (
        len(found) == 8
        and all(found)
        and {m.group(1) for m in found} == {command}
        and len({m.group(2) for m in found}) == 1
        and [m.group(3) for m in found] == list("12345678")
    )


def without_pids(body):
    """A command page with its command's PIDs left out."""
    return PID.sub(rb"\1 PID ", body)


class TurnedAway(Exception):
    """The connection ended before any byte of an answer: how, in a word."""


def server_side(port, client_port):
    """The server's end of the connection from client_port in /proc/net/tcp:
    (state, inode), or None when the kernel holds none."""
    ends = (f"0100007F:{port:04X}", f"0100007F:{client_port:04X}")
    with open("/proc/net/tcp") as f:
        for line in f:
            words = line.split()
            if tuple(words[1:3]) == ends:
                return words[3], words[9]
    return None


def not_taken(port, client_port):
    """Whether the server has not taken the connection from client_port: the
    kernel still holds it in the listening socket's queues (half open, or
    open with no file of the server's: inode 0), or has dropped it."""
    side = server_side(port, client_port)
    return side is None or side[0] == "03" or side[1] == "0"


def exchange(port, request):
    """Sends request on a connection of its own and reads the answer to its
    end: every byte, header and all. TurnedAway when the connection was
    refused, reset or not taken before any byte came; OSError for an answer
    cut short or none in time."""
    try:
        s = socket.create_connection(("127.0.0.1", port), timeout=CONNECT_SECONDS)
    except ConnectionRefusedError:
        raise TurnedAway("refused") from None
    except ConnectionResetError:
        raise TurnedAway("reset") from None
    except TimeoutError:
        raise TurnedAway("not taken") from None
    got = b""
    deadline = time.monotonic() + ANSWER_SECONDS
    with s:
        s.settimeout(CONNECT_SECONDS)
        try:
            s.sendall(request)
            while True:
                try:
                    chunk = s.recv(65536)
                except TimeoutError:
                    # The kernel may have let the connection in and then found
                    # the queue full: it still waits there, and is no hang.
                    if not got and not_taken(port, s.getsockname()[1]):
                        raise TurnedAway("not taken") from None
                    if time.monotonic() > deadline:
                        raise
                    continue
                if not chunk:
                    return got
                got += chunk
        except (ConnectionResetError, BrokenPipeError) as e:
            if not got:
                raise TurnedAway("reset") from None
            raise OSError(f"cut short after {len(got)} bytes: {e!r}") from None
        except TimeoutError:
            raise OSError(
                f"no end of the answer within {ANSWER_SECONDS} s, {len(got)} bytes"
            ) from None


def split_answer(answer):
    """(status line, body) of an HTTP answer; the body after the header's blank line."""
    ends = [i + len(sep) for sep in (b"\r\n\r\n", b"\n\n") for i in [answer.find(sep)] if i >= 0]
    if not ends:
        return answer.split(b"\n", 1)[0], None
    return answer.split(b"\n", 1)[0], answer[min(ends) :]


class Load:
    def __init__(self, stage, port, seconds):
        self.stage = stage
        self.port = port
        self.seconds = seconds
        self.lock = threading.Lock()
        self.counts = {"save": 0, "form": 0, "command": 0}
        self.turned_away = {}
        self.wrong = []
        # The board's own form sends its saves: they carry its address.
        self.referer = f"http://127.0.0.1:{port}" + pages.path(pages.FORM)
        self.forms = set()
        self.commands = {}
        self.wait_page = None

    def request(self, path, headers=None):
        lines = [f"GET {path} HTTP/1.0", f"Host: 127.0.0.1:{self.port}"]
        lines += [f"{k}: {v}" for k, v in (headers or {}).items()]
        return ("\r\n".join(lines) + "\r\n\r\n").encode()

    def get(self, path, headers=None):
        """The body of a 200 answer to path; OSError for any other answer."""
        status, body = split_answer(exchange(self.port, self.request(path, headers)))
        if not re.match(rb"HTTP/1\.[01] 200 ", status) or body is None:
            raise OSError(f"answered {status[:60]!r}")
        return body

    def expect(self):
        """The answers the program gives, run directly as the server runs it:
        the form over each save, and each command page with its PIDs left
        out; and the wait page, from a first save through the server, which
        also leaves a whole save for every form read to show."""
        form = pages.query(pages.FORM)
        for i in SAVES:
            with open(self.stage.settings, "w") as f:
                f.write(save_text(i))
            self.forms.add(self.stage.direct(form))
        os.remove(self.stage.settings)
        for command, page in pages.COMMANDS.items():
            self.commands[command] = without_pids(self.stage.direct(pages.query(page)))
        body = self.get("/cgi-bin/northbeam?" + save_query(1), {"Referer": self.referer})
        refresh = web.REFRESH.encode()
        if web.WAIT_PICTURE.encode() not in body or not body.endswith(refresh):
            self.wrong.append(("first save", body[-300:]))
        self.wait_page = body

    def pick(self, rnd):
        """A request as one of the clients sends it: its kind, path, headers,
        and the check of its answer's body."""
        x = rnd.random()
        if x < 0.3:
            path = "/cgi-bin/northbeam?" + save_query(rnd.choice(SAVES))
            return "save", path, {"Referer": self.referer}, lambda body: body == self.wait_page
        if x < 0.7:
            return "form", pages.path(pages.FORM), {}, lambda body: body in self.forms
        command = rnd.choice(sorted(pages.COMMANDS))
        expected = self.commands[command]
        return (
            "command",
            pages.path(pages.COMMANDS[command]),
            {},
            lambda body: without_pids(body) == expected and one_run(body, command),
        )

    def client(self, seed, end):
        rnd = random.Random(seed)
        while time.monotonic() < end:
            kind, path, headers, good = self.pick(rnd)
            away = None
            try:
                body = self.get(path, headers)
                ok = good(body)
            except TurnedAway as e:
                away, ok = str(e), True
            except OSError as e:
                ok, body = False, repr(e).encode()
            with self.lock:
                self.counts[kind] += 1
                if away:
                    self.turned_away[away] = self.turned_away.get(away, 0) + 1
                if not ok:
                    self.wrong.append((f"{kind} {path}", body[-300:]))
            if away:
                # The queue is full: let it drain a moment.
                time.sleep(rnd.uniform(0.05, 0.3))

    def run(self):
        started = time.monotonic()
        overflows = listen_overflows()
        self.expect()
        end = time.monotonic() + self.seconds
        threads = [
            threading.Thread(target=self.client, args=(n, end), daemon=True) for n in range(CLIENTS)
        ]
        for t in threads:
            t.start()
        for t in threads:
            t.join(max(0, end - time.monotonic()) + ANSWER_SECONDS + CONNECT_SECONDS + 10)
        if any(t.is_alive() for t in threads):
            self.wrong.append(("", "a client hung"))
        with open(self.stage.settings) as f:
            final = f.read()
        if final not in {save_text(i) for i in SAVES}:
            self.wrong.append(("settings file", final))
        folder = os.path.dirname(self.stage.settings)
        left = [n for n in os.listdir(folder) if n.startswith("config.out.")]
        if left:
            self.wrong.append(("temporary files left", " ".join(left)))
        for what, answer in self.wrong[:5]:
            print("WRONG:", what, "->", answer)
        c = self.counts
        away = sum(self.turned_away.values())
        print(
            f"load: {sum(c.values())} requests in {self.seconds:g} s by {CLIENTS} clients "
            f"({c['save']} saves, {c['form']} form reads, {c['command']} command pages), "
            f"{len(self.wrong)} wrong, {away} turned away before any answer"
            + "".join(f", {n} {how}" for how, n in sorted(self.turned_away.items()))
        )
        print(
            f"load: the kernel turned away {listen_overflows() - overflows} connections "
            f"meanwhile; {time.monotonic() - started:.1f} s in all"
        )
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
        rc = Load(stage, stage.port("busybox"), seconds).run()
    finally:
        # Every apply reaches its end and nothing is left behind.
        stopped = web.stop(stage, "busybox")
    return rc or stopped


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
