# Shared by the project's scripts: package installs and the build folders.
# shellcheck shell=bash

top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
jobs=$(nproc 2>/dev/null || echo 2)

# Installs the Debian packages that are missing (as root, on a fresh machine).
need_pkgs() {
  local missing=()
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
    apt-get update -qq
    export NB_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds one folder below build/: configure_build NAME [cmake args...]
configure_build() {
  local name=$1
  shift
  cmake -S "$top" -B "$top/build/$name" -DNB_WERROR=ON "$@" >/dev/null
  cmake --build "$top/build/$name" -j "$jobs"
}
