# Shared by the serve command and the board's scripts: the web server's
# packages, a free port and a clean environment for the server.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The web server and the tools it needs, from Debian.
need_web_pkgs() {
  need_pkgs cmake make g++ busybox curl python3
}

# A free TCP port on 127.0.0.1 (the kernel picks it).
free_port() {
  /usr/bin/python3 "$top/scripts/pylib/nbtest.py" free-port
}

# A clean environment for the web server and the CGIs it starts.
# shellcheck disable=SC2034  # for the scripts that source this file
server_env=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
