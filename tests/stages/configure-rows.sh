#!/bin/sh
# One case of Configure's table (tests/stages/configure.py), as root: plants
# a settings file, runs a Configure on it under a time limit, and reports
# what came of it, a "name=value" line each, for the table to judge.
#
#   configure-rows.sh CONFIGURE WEB_USER PLANT ACTION ADDRESS
#   configure-rows.sh unprotect
#
# CONFIGURE is the script run; its names (SETTINGS, RUN, LOG) are read from
# its top. With WEB_USER other than the one it names, a copy with that user
# runs. PLANT is what stands at the settings path (below); ACTION is apply,
# boot, or boot-no-run (boot with the run folder gone); the settings carry
# ADDRESS, so the report shows whether eth1 got it.
#
# On the emulated board it is a CGI of the test boot's inspect server:
# the arguments come in the query, joined by "+".
set -u
if [ -n "${GATEWAY_INTERFACE:-}" ]; then
  printf 'Content-type: text/plain\r\n\r\n'
  old_ifs=$IFS
  IFS=+
  # shellcheck disable=SC2086
  set -- ${QUERY_STRING:-}
  IFS=$old_ifs
fi

# The kernel's own guards off, so that only Configure's checks hold.
if [ "${1:-}" = unprotect ]; then
  for guard in protected_symlinks protected_fifos protected_regular protected_hardlinks; do
    echo 0 >"/proc/sys/fs/$guard"
    echo "$guard=$(cat "/proc/sys/fs/$guard")"
  done
  exit 0
fi

[ $# -eq 5 ] || {
  echo "usage: configure-rows.sh CONFIGURE WEB_USER PLANT ACTION ADDRESS" >&2
  exit 2
}
configure=$1 web_user=$2 plant=$3 action=$4 address=$5

# A name's value at Configure's top.
top() { sed -n "s/^$1=//p" "$configure" | head -n 1; }
settings=$(top SETTINGS)
run=$(top RUN)
log=$(top LOG)
if [ "$web_user" != "$(top WEB_USER)" ]; then
  copy=$(mktemp)
  sed "s/^WEB_USER=.*/WEB_USER=$web_user/" "$configure" >"$copy"
  chmod 700 "$copy"
  configure=$copy
fi
target=${settings%/*}/.configure-rows-target

# A static save of ADDRESS on the board's WAN network.
good() {
  printf '%s\n' WAN_STATICIP=y "WAN_IPADDR=\"$address\"" 'WAN_NETMASK="255.255.255.0"' \
    'WAN_ROUTE="10.0.2.2"' 'DNS1="10.0.2.3"' 'DNS2="10.0.2.4"'
}

# A good save padded to SIZE bytes by a comment line, which Configure skips.
padded() {
  good >"$1"
  pad=$(($2 - $(wc -c <"$1") - 1))
  head -c "$pad" /dev/zero | tr '\0' '#' >>"$1"
  echo >>"$1"
}

rm -rf "$settings" "$target"
case $plant in
  good) good >"$settings" ;;
  web-user)
    good >"$settings"
    chown "$web_user" "$settings"
    ;;
  link)
    good >"$target"
    ln -s "$target" "$settings"
    ;;
  fifo) mkfifo -m 666 "$settings" ;;
  foreign)
    good >"$settings"
    chown 1000 "$settings"
    ;;
  size-4096) padded "$settings" 4096 ;;
  size-4097) padded "$settings" 4097 ;;
  sparse-2M)
    good >"$settings"
    truncate -s 2M "$settings"
    ;;
  refused-values)
    printf '%s\n' WAN_STATICIP=y 'WAN_IPADDR="999.1.1.1"' >"$settings"
    chown "$web_user" "$settings"
    ;;
  *)
    echo "no plant $plant" >&2
    exit 2
    ;;
esac
[ ! -f "$target" ] || target_sum=$(sha256sum <"$target")

[ "$action" != boot-no-run ] || rm -rf "$run"
# Hundredths of a second since the kernel started.
now() {
  read -r up _ </proc/uptime
  echo "${up%.*}${up#*.}"
}
logged=$(wc -c <"$log" 2>/dev/null || echo 0)
began=$(now)
# A Configure that hangs is cut off, and the report says how long it took.
timeout -s KILL 15 "$configure" "${action%-no-run}" >/dev/null 2>&1
echo "status=$?"
echo "centiseconds=$(($(now) - began))"

ip=$(ifconfig eth1 | sed -n 's/.*inet addr: *\([0-9.]*\).*/\1/p')
echo "eth1=$ip"
if [ -L "$settings" ]; then
  echo "settings=link"
elif [ -p "$settings" ]; then
  echo "settings=fifo"
elif [ -f "$settings" ]; then
  echo "settings=file $(stat -c %u "$settings") $(sed -n 's/^WAN_IPADDR=//p' "$settings" | tr -d '"')"
fi
echo "web_uid=$(id -u "$web_user")"
echo "run=$(stat -c %u:%a "$run")"
# The largest file Configure keeps in its run folder.
echo "largest=$(find "$run" -type f -exec wc -c {} \; | sort -n | tail -n 1 | cut -d' ' -f1)"
if [ -n "${target_sum:-}" ]; then
  [ "$(sha256sum <"$target")" = "$target_sum" ] && echo "target=unchanged" || echo "target=changed"
fi
for left in "${settings%/*}"/.configure.*; do
  [ ! -e "$left" ] || echo "own_folder=left"
done
tail -c +$((logged + 1)) "$log" | sed 's/^/log: /'
rm -f "${copy:-}"
