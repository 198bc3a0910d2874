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
    -DCMAKE_INSTALL_PREFIX=/usr -DNB_DOCROOT=/var/www >/dev/null
  rm -rf "$stage" "$docroot"
  # The board's own layout (/var/www/cgi-bin, /var/www/images), staged.
  DESTDIR="$stage" cmake --install "$top/build/$name" >/dev/null
  mv "$stage/var/www" "$docroot"
  rm -rf "$stage"
}

# Debian's headless Chromium, and npm for the session's driver.
need_browser_pkgs() {
  need_pkgs chromium
  command -v npm >/dev/null || need_pkgs nodejs npm
}

# Runs the Chromium session of tests/web against 127.0.0.1:PORT and tallies
# its checks, with another site's page, on a port of its own, that tries to
# save there behind the person's back: browser_session PORT DIR [NAME=VALUE...]
# The NAME=VALUEs reach the session (NB_SETTINGS, NB_LOG, ...); screenshots
# go to DIR/screenshots. Its servers join the caller's array pids, for the
# caller's clean-up. Returns non-zero on a failure.
browser_session() {
  local port=$1 dir=$2 other line bp bf brc=0
  shift 2
  rm -rf "$dir/other" "$dir/screenshots"
  mkdir -p "$dir/other" "$dir/screenshots" "$dir/tmp"
  other=$(free_port)
  cat > "$dir/other/attack.html" <<EOF
<!doctype html>
<title>another site</title>
<img src="http://127.0.0.1:$port/cgi-bin/northbeam?rc=2&WAN_STATICIP=Static+IP+Address&DNS1=6.6.6.6">
<iframe name="sink"></iframe>
<form id="f" action="http://127.0.0.1:$port/cgi-bin/northbeam" method="get" target="sink">
<input type="hidden" name="rc" value="2"><input type="hidden" name="DNS1" value="6.6.6.7"></form>
<script>document.getElementById('f').submit();</script>
EOF
  "${server_env[@]}" busybox httpd -f -p "127.0.0.1:$other" -h "$dir/other" &
  pids+=($!)
  wait_port "$other"
  (cd "$top/tests/web" && npm ci --no-audit --no-fund --loglevel=error >/dev/null)
  env "$@" NB_BASE="http://127.0.0.1:$port" NB_OTHER="http://127.0.0.1:$other" \
    NB_SHOTS="$dir/screenshots" NB_TMP="$dir/tmp" timeout 120 node "$top/tests/web/session.mjs" > "$dir/tmp/browser.out" 2>&1 &
  # Waited for in the background, so that an interrupt stops it at once.
  pids+=($!)
  wait $! || brc=$?
  cat "$dir/tmp/browser.out"
  line=$(grep -E '^browser: [0-9]+ passed, [0-9]+ failed$' "$dir/tmp/browser.out" || echo "browser: 0 passed, 1 failed")
  read -r _ bp _ bf _ <<< "$line"
  tally "$bp" "$bf"
  echo "screenshots: $dir/screenshots"
  [ "$brc" -eq 0 ] && [ "$bf" -eq 0 ]
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
