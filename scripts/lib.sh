# Shared by the project's scripts: package installs and the build folders.
# shellcheck shell=bash

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export top
jobs=$(nproc 2>/dev/null || echo 2)
export jobs

# Every Debian package that some stage of the test command uses.
# shellcheck disable=SC2034 # the test command installs them
nb_test_pkgs=(
  cmake make g++ libgtest-dev googletest valgrind binutils file musl-tools git
  clang libclang-rt-14-dev clang-format shellcheck shfmt black python3 python3-pyflakes
  g++-arm-linux-gnueabi g++-arm-linux-gnueabihf g++-aarch64-linux-gnu g++-mips-linux-gnu qemu-user
  busybox curl lighttpd apache2 apache2-utils nginx fcgiwrap mini-httpd sudo chromium iproute2
  qemu-system-arm cpio gzip xz-utils
  mmdebstrap lintian piuparts autopkgtest
)

# The program the board's image carries: "musl", the fully static musl build
# for armhf, or "dynamic", the build against Debian's armel C library, which
# goes in with it. scripts/bench --board measures both and says which one
# its gate picks.
# shellcheck disable=SC2034 # scripts/board-image and scripts/bench read it
nb_board_program=musl

# Runs apt-get with its arguments up to four times, pausing between tries:
# a mirror in the middle of a sync answers with lists of the wrong size for
# a minute or two. apt_retry WHAT APT-GET-ARGS...
# NB_APT_PAUSE sets the first pause in seconds (default 15; later ones grow).
apt_retry() {
  local what=$1 try pause=${NB_APT_PAUSE:-15}
  shift
  for try in 1 2 3 4; do
    DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 "$@" && return 0
    [ "$try" -lt 4 ] && {
      echo "== $what failed (try $try of 4); again in $((try * pause)) s" >&2
      sleep $((try * pause))
    }
  done
  echo "== $what failed four times: the Debian mirror is likely in the middle of a sync; a rerun in a few minutes will likely pass" >&2
  return 1
}

# Installs the Debian packages that are missing (as root, on a fresh machine),
# starting none of their services.
need_pkgs() {
  local missing=() p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them)" >&2
    return 1
  fi
  if [ -z "${NB_APT_UPDATED:-}" ]; then
    apt_retry "apt-get update" update -qq || return 1
    export NB_APT_UPDATED=1
  fi
  # Servers such as apache2 and nginx start their system service when they
  # are installed, unless policy-rc.d says no: this machine's services stay
  # as they are.
  local policy=/usr/sbin/policy-rc.d made_policy=
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' >"$policy" && chmod 755 "$policy" && made_policy=1
  fi
  local rc=0
  apt_retry "installing ${missing[*]}" install -y -qq --no-install-recommends "${missing[@]}" >/dev/null || rc=1
  [ -z "$made_policy" ] || rm -f "$policy"
  return "$rc"
}

# Debian's armhf packages, for the board's image and the musl build, through
# one private apt below build/armhf-apt: this machine's sources and keys,
# its own lists and cache, armhf only and nothing installed, so this
# machine's package architectures, lists and dpkg stay as they are.
# Use it as apt-get "${armhf_apt[@]}" ... or apt-cache "${armhf_apt[@]}" ...
armhf_dir=$top/build/armhf-apt
# shellcheck disable=SC2034 # scripts/board-image and scripts/musl-armhf use it
armhf_apt=(-o Dir::State="$armhf_dir/state" -o Dir::State::status="$armhf_dir/state/status"
  -o Dir::Cache="$armhf_dir/cache" -o APT::Architecture=armhf -o APT::Architectures::=armhf
  -o APT::Sandbox::User=root -o DPkg::Lock::Timeout=900)

# Fetches the armhf package lists when they are over a day old (the board's
# kernel takes its security updates from them). Only an update that fetched
# every list counts as fresh: a mirror in the middle of a sync fails one
# list and apt keeps the old ones (or none). Fails when this one did.
armhf_update() {
  mkdir -p "$armhf_dir/state/lists/partial" "$armhf_dir/cache/archives/partial"
  touch "$armhf_dir/state/status"
  local fresh=$armhf_dir/state/updated
  [ -n "$(find "$fresh" -mtime -1 2>/dev/null)" ] && return 0
  echo "== armhf package lists" >&2
  rm -f "$fresh"
  NB_APT_PAUSE=5 apt_retry "the armhf package lists (apt-get update)" "${armhf_apt[@]}" update -qq >&2 &&
    touch "$fresh"
}

# Downloads armhf packages into DIR, each kept once: armhf_download DIR PKG[=VERSION]...
armhf_download() {
  local dir=$1
  shift
  mkdir -p "$dir"
  (cd "$dir" && NB_APT_PAUSE=5 apt_retry "downloading $* (armhf)" "${armhf_apt[@]}" download -qq "$@") >&2
}

# Configures and builds one folder below build/: configure_build NAME [cmake args...]
configure_build() {
  local name=$1
  shift
  cmake -S "$top" -B "$top/build/$name" -DNB_WERROR=ON "$@" >/dev/null
  cmake --build "$top/build/$name" -j "$jobs"
}
