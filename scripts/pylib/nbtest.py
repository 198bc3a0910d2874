"""Shared by the test stages: loopback ports, HTTP as a browser or a raw
socket sends it, ELF checks, and bounded waiting.

Run as a command, it gives the shell scripts the same helpers:
  nbtest.py free-port
  nbtest.py wait-http PORT [SECONDS] [PATH]
  nbtest.py elf-needed FILE
  nbtest.py reachable PATH     exits 0 when every folder above PATH lets others through
  nbtest.py alive PID          exits 0 when process PID runs (a zombie does not)
"""

import base64
import http.client
import os
import socket
import stat
import subprocess
import sys
import time


def alive(pid):
    """Whether process pid runs: a zombie that nobody reaps does not."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            return f.read().rpartition(") ")[2][:1] != "Z"
    except OSError:
        return False


def direct(program, query, env, user=None, timeout=20):
    """The body that program writes when run directly as a web server runs
    it: a GET for query (None: no QUERY_STRING at all) with env, as user
    (subprocess's user, group and extra_groups; None: this one)."""
    env = dict(env, REQUEST_METHOD="GET")
    if query is not None:
        env["QUERY_STRING"] = query
    done = subprocess.run([program], env=env, capture_output=True, timeout=timeout, **(user or {}))
    return done.stdout.split(b"\n\n", 1)[-1]


def free_port():
    """A TCP port on 127.0.0.1 that nothing listens on (the kernel picks it)."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def within(seconds, check, pause=0.2):
    """Calls check until it returns a true value or seconds pass; returns its last value."""
    deadline = time.monotonic() + seconds
    while True:
        value = check()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(pause)


def fetch(port, path, headers=None, method="GET", body=None, timeout=20, auth=None):
    """One request to 127.0.0.1:port: (status, headers as a lower-case dict, body bytes)."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        sent = {"Connection": "close"}
        if auth is not None:
            sent["Authorization"] = "Basic " + base64.b64encode(auth.encode()).decode()
        sent.update(headers or {})
        conn.request(method, path, body=body, headers=sent)
        r = conn.getresponse()
        got = {k.lower(): v for k, v in r.getheaders()}
        return r.status, got, r.read()
    finally:
        conn.close()


def raw(port, request, timeout=10):
    """Sends request bytes on a raw connection and reads until the server closes
    it or timeout passes: every byte the server sent, header and all."""
    out = b""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as s:
        s.sendall(request)
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            try:
                chunk = s.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                break
            out += chunk
    return out


def answers(port, path="/", timeout=2):
    """Whether 127.0.0.1:port answers an HTTP request at all."""
    try:
        fetch(port, path, timeout=timeout)
        return True
    except OSError:
        return False


def wait_http(port, seconds=10, path="/"):
    """Waits until 127.0.0.1:port answers HTTP; False when it never did."""
    return within(seconds, lambda: answers(port, path), pause=0.1)


def elf_needed(path, readelf="readelf"):
    """The shared libraries an ELF file needs (its NEEDED entries), in order."""
    out = subprocess.run([readelf, "-d", path], check=True, capture_output=True, text=True).stdout
    return [
        line.split("[", 1)[1].split("]", 1)[0] for line in out.splitlines() if "(NEEDED)" in line
    ]


def reachable(path):
    """Whether another user (a web server's www-data) can pass through every
    folder above path: each of them lets others search it (o+x)."""
    path = os.path.abspath(path)
    while True:
        parent = os.path.dirname(path)
        if parent == path:
            return True
        path = parent
        try:
            if not os.stat(path).st_mode & stat.S_IXOTH:
                return False
        except FileNotFoundError:
            return False


def pack_overlay(folder, out):
    """Packs folder's files as root's into out, a gzipped newc cpio archive:
    an initramfs the emulated board's kernel lays over its own."""
    files = subprocess.run(["find", "."], cwd=folder, check=True, capture_output=True).stdout
    archive = subprocess.run(
        ["cpio", "-o", "-H", "newc", "-R", "0:0", "--quiet"],
        cwd=folder,
        input=files,
        check=True,
        capture_output=True,
    ).stdout
    with open(out, "wb") as f:
        f.write(subprocess.run(["gzip"], input=archive, check=True, capture_output=True).stdout)


def main(argv):
    if len(argv) >= 1 and argv[0] == "free-port":
        print(free_port())
        return 0
    if len(argv) >= 2 and argv[0] == "wait-http":
        seconds = float(argv[2]) if len(argv) > 2 else 10
        path = argv[3] if len(argv) > 3 else "/"
        if wait_http(int(argv[1]), seconds, path):
            return 0
        print(f"nothing answers on 127.0.0.1:{argv[1]} within {seconds:g} s", file=sys.stderr)
        return 1
    if len(argv) == 2 and argv[0] == "alive":
        return 0 if alive(argv[1]) else 1
    if len(argv) == 2 and argv[0] == "reachable":
        return 0 if reachable(argv[1]) else 1
    if len(argv) == 2 and argv[0] == "elf-needed":
        print(" ".join(elf_needed(argv[1])))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
