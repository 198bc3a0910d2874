# Shared by the serve command and the web tests: a board folder of
# stand-ins, a build that points at it, and its document root.
# shellcheck shell=bash
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The web servers and the tools they need, from Debian.
need_web_pkgs() {
  need_pkgs cmake make g++ busybox curl "$@"
}

# Writes an executable stand-in: standin PATH (script text on stdin).
standin() {
  mkdir -p "$(dirname "$1")"
  cat > "$1"
  chmod 755 "$1"
}

# The board's /etc/Configure: logs the settings it would apply, time
# stamped, and keeps quiet on the CGI's output. standin_configure BOARD LOG
standin_configure() {
  standin "$1/etc/Configure" <<EOF
#!/bin/sh
# Stand-in for the board's configuration program: it gets no environment,
# so every path is absolute. Its output would reach the browser: none. It
# holds the CGI's output open until done, since lighttpd ends the CGI's
# process once that output closes.
{ /bin/date -u '+== %Y-%m-%d %H:%M:%S UTC'; /bin/cat '$1/tmp/config.out'; } >> '$2' 2>&1 </dev/null
EOF
}

# Builds build/NAME with its root prefix at BOARD and installs the program
# and pictures into DOCROOT: build_docroot NAME BOARD DOCROOT
build_docroot() {
  local name=$1 board=$2 docroot=$3 stage="$top/build/$1/stage"
  mkdir -p "$board/proc" "$board/sbin" "$board/etc" "$board/tmp"
  configure_build "$name" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DNB_ROOT="$board" \
    -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
  rm -rf "$stage" "$docroot"
  # The board's own layout (/var/www/cgi-bin, /var/www/images), staged.
  DESTDIR="$stage" cmake --install "$top/build/$name" >/dev/null
  mv "$stage/var/www" "$docroot"
  rm -rf "$stage"
}

# A free TCP port on 127.0.0.1 (the kernel picks it).
free_port() {
  /usr/bin/python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits up to 10 s until 127.0.0.1:PORT answers: wait_port PORT
wait_port() {
  local i
  for i in $(seq 100); do
    curl -s -o /dev/null --max-time 1 "http://127.0.0.1:$1/" && return 0
    sleep 0.1
  done
  echo "nothing answers on 127.0.0.1:$1" >&2
  return 1
}

# A clean environment for the web servers and the CGIs they start.
server_env=(env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin LANG=C.UTF-8)
