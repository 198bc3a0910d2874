# Sourced by the tests: README.Debian's steps that more than one test takes,
# and the test's own small network.
# shellcheck shell=sh

# The board's LAN address, the LAN client's, the WAN port's network, and
# the login the tests name. Only TEST-NET addresses, on the test's own
# interfaces: nothing leaves its namespaces.
BOARD=192.0.2.1
CLIENT=192.0.2.2
NAME=board.local
LOGIN=admin:northbeam-test
SETTINGS=/var/lib/northbeam/settings/config.out
FORM='/cgi-bin/northbeam?rc=1&index_link=Wan+Lan+Setting'

# The menu's pages, one a line, as a form sends them in a query (a space
# as "+"): each menu form's hidden index_link value, in the home page on
# the input. One tag a line first: the program writes the menu on one.
menu_pages() {
  tr '>' '\n' | sed -n 's/.*name="index_link" value="\([^"]*\)".*/\1/p' | sed 's/ /+/g'
}

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# Runs the test again in namespaces of its own (network, mount, PID and
# host name), once: the servers it starts listen only there and end with
# it. In them, the board "board" has a LAN port (lan0, $BOARD) to a LAN
# client in a network namespace of its own ($CLIENT), reached by a veth
# pair, and a WAN port eth1 for Configure to configure (one end of a veth
# pair whose other end, wan0, leads nowhere). The client finds the board
# as $NAME in the test's own copy of /etc/hosts. enter_lan "$@"
enter_lan() {
  if [ -z "${NB_IN_LAN:-}" ]; then
    NB_IN_LAN=1 exec unshare --net --mount --pid --uts --fork --kill-child --mount-proc "$0" "$@"
  fi
  hostname board
  ip link set lo up
  cp /etc/hosts "$AUTOPKGTEST_TMP/hosts"
  echo "$BOARD $NAME" >>"$AUTOPKGTEST_TMP/hosts"
  mount --bind "$AUTOPKGTEST_TMP/hosts" /etc/hosts
  # Configure writes the name servers of a save into /etc/resolv.conf:
  # the testbed's own comes back when the test ends.
  cp /etc/resolv.conf "$AUTOPKGTEST_TMP/resolv.conf"
  trap 'cat "$AUTOPKGTEST_TMP/resolv.conf" >/etc/resolv.conf' EXIT
  unshare --net sleep infinity &
  client_pid=$!
  own=$(readlink /proc/self/ns/net)
  tries=0
  while [ "$(readlink "/proc/$client_pid/ns/net")" = "$own" ]; do
    tries=$((tries + 1))
    [ "$tries" -lt 50 ] || fail "the LAN client's namespace did not come up"
    sleep 0.1
  done
  ip link add lan0 type veth peer name lan1
  ip link set lan1 netns "$client_pid"
  ip addr add "$BOARD/25" dev lan0
  ip link set lan0 up
  lan ip link set lo up
  lan ip addr add "$CLIENT/25" dev lan1
  lan ip link set lan1 up
  ip link add eth1 type veth peer name wan0
  ip link set wan0 up
}

# Runs a command on the LAN client.
lan() {
  nsenter --net="/proc/$client_pid/ns/net" "$@"
}

# The HTTP status of a GET from the LAN client: lan_status URL [CURL-ARGS...]
lan_status() {
  url=$1
  shift
  lan curl -s -o /dev/null -m 20 -w '%{http_code}' "$@" "$url"
}

# Fails unless a command prints what is expected: expect WANT COMMAND...
expect() {
  want=$1
  shift
  got=$("$@") || true
  [ "$got" = "$want" ] || fail "$*: $got, not $want"
  echo "ok: $* -> $got"
}

# Waits up to SECONDS for a command to succeed: within SECONDS COMMAND...
within() {
  seconds=$1
  shift
  end=$(($(date +%s) + seconds))
  until "$@" >/dev/null 2>&1; do
    [ "$(date +%s)" -lt "$end" ] || return 1
    sleep 0.2
  done
}

# README.Debian, "Name a login", for Apache: the password file, and the
# login in place of "Require local".
apache_login() {
  echo northbeam-test | htpasswd -i -c /etc/apache2/northbeam.htpasswd admin
  chgrp www-data /etc/apache2/northbeam.htpasswd
  chmod 0640 /etc/apache2/northbeam.htpasswd
  sed -i 's|^\( *\)Require local$|\1AuthType Basic\n\1AuthName "northbeam"\n\1AuthUserFile /etc/apache2/northbeam.htpasswd\n\1Require valid-user|' \
    /etc/apache2/conf-available/northbeam.conf
  service apache2 reload
}

# README.Debian, "Give it a Configure": the reference Configure, its names
# set for this machine, the sudoers rule, the flash slots and the factory
# settings. The factory settings are adapted, as README.Debian asks, to the
# test's WAN network.
give_configure() {
  install -m 0755 /usr/share/doc/northbeam/examples/Configure /etc/Configure
  sed -i -e 's|^SETTINGS=.*|SETTINGS=/var/lib/northbeam/settings/config.out|' \
    -e 's|^WEB_USER=.*|WEB_USER=www-data|' -e 's|^WAN=.*|WAN=eth1|' /etc/Configure
  # shellcheck disable=SC2016 # the line as README.Debian gives it
  sed -i '1a [ "$(/usr/bin/id -u)" -eq 0 ] || exec /usr/bin/sudo -n /etc/Configure' /etc/Configure
  install -m 0440 /usr/share/doc/northbeam/examples/sudoers /etc/sudoers.d/northbeam
  mkdir -p /flash
  dd if=/dev/zero of=/flash/settings.0 bs=4096 count=1
  dd if=/dev/zero of=/flash/settings.1 bs=4096 count=1
  install -m 0644 /usr/share/doc/northbeam/examples/config.factory /etc/config.factory
  sed -i -e 's|^WAN_IPADDR=.*|WAN_IPADDR="192.0.2.130"|' \
    -e 's|^WAN_NETMASK=.*|WAN_NETMASK="255.255.255.128"|' \
    -e 's|^WAN_ROUTE=.*|WAN_ROUTE="192.0.2.129"|' \
    -e 's|^DNS1=.*|DNS1="192.0.2.53"|' -e 's|^DNS2=.*|DNS2="192.0.2.54"|' /etc/config.factory
}

# README.Debian, "Run Configure at boot", for SERVICE: the systemd drop-in.
# The testbed runs no systemd, so the test does what systemd would on a
# restart: stops the server, runs the drop-in's ExecStartPre ("-": its
# failure is ignored), and starts the server. boot_line SERVICE
boot_line() {
  mkdir -p "/etc/systemd/system/$1.service.d"
  printf '[Service]\nExecStartPre=-/etc/Configure boot\n' \
    >"/etc/systemd/system/$1.service.d/northbeam.conf"
  service "$1" stop
  pre=$(sed -n 's/^ExecStartPre=-//p' "/etc/systemd/system/$1.service.d/northbeam.conf")
  [ "$pre" = "/etc/Configure boot" ] || fail "the drop-in runs \"$pre\""
  $pre || echo "Configure boot failed (ignored, as systemd does with \"-\")"
  service "$1" start
}

# Whether the WAN port runs ADDRESS with GATEWAY as the default route.
wan_runs() {
  ifconfig eth1 | grep -q "inet $1 " && route -n | grep -q "^0\.0\.0\.0 *$2 "
}

# The WAN port, the route table and Configure's last lines, for a failure.
wan_state() {
  ifconfig eth1
  route -n
  tail -5 /var/log/configure.log
}

# What the form shows, fetched by the LAN client with the login.
lan_form() {
  lan curl -s -m 20 -u "$LOGIN" "http://$NAME$FORM"
}

# A save from the form's own page, by the board's name, with the login, as
# a LAN client's browser sends it. save_from_lan ADDRESS DNS1
save_from_lan() {
  query="rc=2&WAN_STATICIP=Static+IP+Address&WAN_IPADDR=$1&WAN_NETMASK=255.255.255.128"
  query="$query&WAN_ROUTE=192.0.2.129&DNS1=$2&DNS2=192.0.2.54"
  lan curl -s -m 20 -u "$LOGIN" -e "http://$NAME$FORM" -o "$AUTOPKGTEST_TMP/wait.html" \
    -w '%{http_code}' "http://$NAME/cgi-bin/northbeam?$query"
}

# A save from the LAN is applied: the wait page, the settings file, the
# WAN port, the name servers and the form. saved_and_applied ADDRESS DNS1
saved_and_applied() {
  expect 200 save_from_lan "$1" "$2"
  grep -q 'wait\.gif' "$AUTOPKGTEST_TMP/wait.html" || fail "the save's answer is no wait page"
  grep -q "^WAN_IPADDR=\"$1\"\$" "$SETTINGS" || fail "$SETTINGS holds: $(cat "$SETTINGS")"
  within 20 wan_runs "$1" 192.0.2.129 || fail "eth1 does not run $1: $(wan_state)"
  grep -q "^nameserver $2\$" /etc/resolv.conf || fail "resolv.conf: $(cat /etc/resolv.conf)"
  lan_form | grep -q "NAME=WAN_IPADDR VALUE=\"$1\"" || fail "the form does not show $1"
  echo "ok: a save of $1 from the LAN is applied"
}

# Runs a command as another local user, who has no business with the pages.
as_nobody() {
  setpriv --reuid=nobody --regid=nogroup --clear-groups "$@"
}

# Another local user can put nothing in the settings file's folder, and
# what they plant in /tmp (a file, a FIFO, a 2 MiB sparse file) changes
# nothing the form shows and holds no save and no apply. Each round saves
# another address. others_plant ROUND-ADDRESS...
others_plant() {
  if as_nobody sh -c "echo WAN_IPADDR=\\\"192.0.2.66\\\" >/var/lib/northbeam/settings/planted" 2>/dev/null; then
    fail "another user can write in the settings file's folder"
  fi
  for kind in file fifo sparse; do
    [ $# -gt 0 ] || fail "others_plant needs an address a round"
    rm -f /tmp/config.out
    case $kind in
      file) as_nobody sh -c 'printf "WAN_STATICIP=y\nWAN_IPADDR=\"192.0.2.66\"\n" >/tmp/config.out' ;;
      fifo) as_nobody mkfifo /tmp/config.out ;;
      sparse) as_nobody truncate -s 2M /tmp/config.out ;;
    esac
    before=$(ls -l /tmp/config.out)
    shown=$(lan_form) || fail "the form hangs over a planted $kind"
    if echo "$shown" | grep -q 'NAME=WAN_IPADDR VALUE="192\.0\.2\.66"'; then
      fail "the form shows a planted $kind"
    fi
    saved_and_applied "$1" 192.0.2.53
    [ "$(ls -l /tmp/config.out)" = "$before" ] || fail "the planted $kind was changed"
    echo "ok: a planted $kind in /tmp changes nothing"
    shift
  done
  rm -f /tmp/config.out
}
