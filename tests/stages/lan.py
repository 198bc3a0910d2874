"""The interface at a LAN address, as a person on the board's LAN reaches it,
over the web stage's stand-in board (web.py docroot lays it):
  lan.py WEBDIR redirect        Chromium (tests/web/lan.mjs) behind busybox httpd: a page of
                                the board's own host links to another site, which sends the
                                browser back to a save
  lan.py WEBDIR login SERVER    SERVER's login as its file gives it (busybox: board/init and
                                board/inittab; nginx: examples/nginx-northbeam.conf), from a
                                LAN client's address
Each runs itself again in a network namespace of its own (unshare --net, so
root only: exit 77, a skip, otherwise), with a veth pair of TEST-NET
addresses: the board 192.0.2.1, a LAN client 192.0.2.2, another site
192.0.2.3. The namespace has no route out: nothing leaves it. Servers and the
program run as web.py has them (www-data for root).
"""

import base64
import http.client
import os
import re
import shutil
import subprocess
import sys

import web

BOARD_ADDRESS = "192.0.2.1"
LAN_ADDRESS = "192.0.2.2"
OTHER_ADDRESS = "192.0.2.3"
PORT = 8080
PASSWORD = "k7qm2vx9tb4z"
# The namespace's links: loopback, and a veth pair with the board on one end
# and the LAN (a client, another site) on the other.
LINKS = [
    ["ip", "link", "set", "lo", "up"],
    ["ip", "link", "add", "board0", "type", "veth", "peer", "name", "lan0"],
    ["ip", "addr", "add", f"{BOARD_ADDRESS}/24", "dev", "board0"],
    ["ip", "addr", "add", f"{LAN_ADDRESS}/24", "dev", "lan0"],
    ["ip", "addr", "add", f"{OTHER_ADDRESS}/24", "dev", "lan0"],
    ["ip", "link", "set", "board0", "up"],
    ["ip", "link", "set", "lan0", "up"],
]
SKIP = 77


def own_namespace():
    """Whether this process is in a network namespace other than its parent's."""
    mine = os.readlink("/proc/self/ns/net")
    return mine != os.readlink(f"/proc/{os.getppid()}/ns/net")


def lay_links():
    """The namespace's links; False, with the reason printed, when one failed.
    Only ever in a namespace of this test's own: never this machine's."""
    if not own_namespace():
        print("not in a network namespace of its own: no links laid", file=sys.stderr)
        return False
    for command in LINKS:
        done = subprocess.run(command, capture_output=True, text=True)
        if done.returncode != 0:
            print(f"{' '.join(command)}: {done.stderr.strip()}", file=sys.stderr)
            return False
    routes = subprocess.run(["ip", "route", "show", "default"], capture_output=True, text=True)
    if routes.stdout.strip():
        print(f"the namespace has a way out: {routes.stdout}", file=sys.stderr)
        return False
    return True


def fetch(source, path, auth=None):
    """GET http://BOARD_ADDRESS:PORT/path from the address source: (status, body)."""
    conn = http.client.HTTPConnection(BOARD_ADDRESS, PORT, timeout=20, source_address=(source, 0))
    try:
        headers = {"Connection": "close"}
        if auth:
            headers["Authorization"] = "Basic " + base64.b64encode(auth.encode()).decode()
        conn.request("GET", path, headers=headers)
        r = conn.getresponse()
        return r.status, r.read()
    finally:
        conn.close()


def answers():
    try:
        fetch(BOARD_ADDRESS, "/")
        return True
    except OSError:
        return False


def serve(stage, server, command=None, edit=None):
    """Starts SERVER (with its command in place of web.py's, or its snippet
    edited) on the board's address; its run folder, or None when it does
    not answer."""
    run = stage.run_dir("lan-" + server)
    commands = [command] if command else None
    if web.launch(stage, server, run, BOARD_ADDRESS, PORT, edit, commands) is None:
        return None
    if not web.nbtest.within(15, answers, 0.1):
        print(f"{server} does not answer on {BOARD_ADDRESS}:{PORT}; its log:", file=sys.stderr)
        print(open(os.path.join(run, "server.log"), errors="replace").read()[-3000:])
        web.stop_pids(run)
        return None
    return run


# ---- the redirect back ---------------------------------------------------


def redirect(stage):
    """The Chromium session of tests/web/lan.mjs against busybox httpd."""
    pages = os.path.join(stage.www, "lan")
    shutil.rmtree(pages, ignore_errors=True)
    shutil.copytree(os.path.join(web.SOURCE, "tests", "web", "lan"), pages)
    tmp = os.path.join(stage.dir, "lan-browser")
    shutil.rmtree(tmp, ignore_errors=True)
    os.makedirs(tmp)
    if serve(stage, "busybox") is None:
        return 1
    try:
        env = dict(
            os.environ,
            NB_BASE=f"http://{BOARD_ADDRESS}:{PORT}",
            NB_OTHER_ADDRESS=OTHER_ADDRESS,
            NB_SETTINGS=stage.settings,
            NB_LOG=stage.log,
            NB_TMP=tmp,
        )
        webdir = os.path.join(web.SOURCE, "tests", "web")
        session = os.path.join(webdir, "lan.mjs")
        done = subprocess.run(["node", session], env=env, cwd=webdir, timeout=120)
    finally:
        stopped = web.stop(stage, "lan-busybox")
        shutil.rmtree(pages, ignore_errors=True)
    return done.returncode or stopped


# ---- the logins ----------------------------------------------------------


def busybox_login(stage, folder):
    """The board's login: board/init's line of the -c file (laid in folder),
    with the hash from httpd -m, and board/inittab's httpd command with the
    stage's address, document root and file: that command, as busybox's."""
    with open(os.path.join(web.SOURCE, "board", "init")) as f:
        line = re.search(r'^\s*echo "([^"$]*)\$\(httpd -m "\$password"\)" >(\S+)$', f.read(), re.M)
    with open(os.path.join(web.SOURCE, "board", "inittab")) as f:
        command = re.search(r"^::respawn:/usr/sbin/httpd (.*)$", f.read(), re.M)
    if not line or not command:
        print("board/init or board/inittab no longer makes the login so", file=sys.stderr)
        return None
    hashed = subprocess.run(
        ["busybox", "httpd", "-m", PASSWORD], capture_output=True, text=True, check=True
    ).stdout.strip()
    conf = os.path.join(folder, "httpd.conf")
    with open(conf, "w") as f:
        f.write(line.group(1) + hashed + "\n")
    web.give_to_user(conf)
    ours = {"80": f"{BOARD_ADDRESS}:{PORT}", "/var/www": stage.www, "/etc/httpd.conf": conf}
    args = [ours.get(word, word) for word in command.group(1).split()]
    return ["busybox", "httpd"] + [word.replace("{", "{{").replace("}", "}}") for word in args]


def nginx_login(run, text):
    """The snippet with the login its comment gives: the htpasswd file made as
    it says (the password on standard input), its lines in place of
    allow/deny. None when the comment no longer says so."""
    made = re.search(r"^\s*#\s+(htpasswd -c (\S+) (\S+))$", text, re.M)
    lines = re.search(r"in place of allow/deny:\n((?:\s*#\s+\S.*;\n)+)", text)
    if not made or not lines:
        return None
    users = os.path.join(run, "northbeam.htpasswd")
    args = made.group(1).replace(made.group(2), users).split()
    subprocess.run([args[0], "-i"] + args[1:], input=PASSWORD, text=True, check=True)
    web.give_to_user(users)
    login = "".join(re.sub(r"^(\s*)#\s+", r"\1", x) + "\n" for x in lines.group(1).splitlines())
    kept = [x for x in text.splitlines(True) if not re.match(r"\s*(allow|deny)\s", x)]
    first = next(i for i, x in enumerate(text.splitlines(True)) if re.match(r"\s*allow\s", x))
    return "".join(kept[:first]) + login.replace(made.group(2), users) + "".join(kept[first:])


def logged_in(user):
    return f"{user}:{PASSWORD}"


# What a LAN client gets with a login: (who, client address, auth, path,
# status it gets, whether the body is the home page).
HOME = "/cgi-bin/northbeam?rc=1&index_link=Hardware"
WITH_LOGIN = [
    ("no credentials", LAN_ADDRESS, None, HOME, 401, False),
    ("a wrong password", LAN_ADDRESS, "admin:wrong", HOME, 401, False),
    ("a wrong user", LAN_ADDRESS, f"root:{PASSWORD}", HOME, 401, False),
    ("the login", LAN_ADDRESS, f"admin:{PASSWORD}", HOME, 200, True),
    ("a picture, without credentials", LAN_ADDRESS, None, "/images/bg01.gif", 200, False),
]
# nginx's snippet as shipped: this machine alone.
AS_SHIPPED = [
    ("this machine itself", "127.0.0.1", None, HOME, 200, True),
    ("a LAN client", LAN_ADDRESS, None, HOME, 403, False),
    ("a LAN client, a picture", LAN_ADDRESS, None, "/images/bg01.gif", 200, False),
]


def rows(server, what, table):
    wrong = []
    for who, source, auth, path, status, is_home in table:
        got, body = fetch(source, path, auth)
        if got != status or (is_home and web.TITLE.encode() not in body):
            wrong.append(f"{server} {what}: {who} from {source} gets {got}, not {status}")
    return wrong


def login(stage, server):
    wrong = []
    if server == "nginx":
        if serve(stage, "nginx") is None:
            return 1
        wrong += rows(server, "as shipped", AS_SHIPPED)
        if web.stop(stage, "lan-nginx"):
            wrong.append("nginx as shipped did not stop cleanly")
        run = stage.run_dir("lan-nginx")
        if serve(stage, "nginx", edit=lambda text: nginx_login(run, text)) is None:
            return 1
    else:
        folder = stage.run_dir("lan-login")
        shutil.rmtree(folder, ignore_errors=True)
        os.makedirs(folder)
        web.give_to_user(folder)
        command = busybox_login(stage, folder)
        if command is None or serve(stage, "busybox", command) is None:
            return 1
    try:
        wrong += rows(server, "with its login", WITH_LOGIN)
    finally:
        if web.stop(stage, "lan-" + server):
            wrong.append(f"{server} did not stop cleanly")
    for line in wrong:
        print("FAIL", line)
    print(f"{server} login from the LAN: {'FAILED' if wrong else 'ok'}")
    return 1 if wrong else 0


def main(argv):
    if len(argv) < 2 or argv[1] not in ("redirect", "login"):
        print(__doc__, file=sys.stderr)
        return 2
    if os.environ.get("NB_LAN_INSIDE") != "1":
        if os.geteuid() != 0:
            print("a network namespace of its own needs root: skipped", file=sys.stderr)
            return SKIP
        env = dict(os.environ, NB_LAN_INSIDE="1")
        command = ["unshare", "--net", "--", sys.executable, os.path.abspath(__file__)] + argv
        return subprocess.run(command, env=env).returncode
    if not lay_links():
        return 1
    stage = web.Stage(argv[0])
    if argv[1] == "redirect" and len(argv) == 2:
        return redirect(stage)
    if argv[1] == "login" and len(argv) == 3 and argv[2] in ("busybox", "nginx"):
        return login(stage, argv[2])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
