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
    apt-get -o DPkg::Lock::Timeout=900 update -qq
    export NB_APT_UPDATED=1
  fi
  DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# Configures and builds one folder below build/: configure_build NAME [cmake args...]
configure_build() {
  local name=$1
  shift
  cmake -S "$top" -B "$top/build/$name" -DNB_WERROR=ON "$@" >/dev/null
  cmake --build "$top/build/$name" -j "$jobs"
}

# Tallies of every suite that the test command runs, for its closing line.
NB_TALLY=${NB_TALLY:-$top/build/tally}

# Adds to the tally: tally PASSED FAILED
tally() {
  mkdir -p "$(dirname "$NB_TALLY")"
  echo "$1 $2" >> "$NB_TALLY"
}

# The failures tallied so far.
failures() {
  awk '{f += $2} END {print f + 0}' "$NB_TALLY" 2>/dev/null || echo 0
}

# Runs ctest in a build folder and tallies its tests: run_ctest DIR [ctest args...]
run_ctest() {
  local dir=$1 log rc=0
  shift
  log=$(mktemp)
  (cd "$dir" && ctest --output-on-failure "$@") 2>&1 | tee "$log" || rc=$?
  local line total failed
  line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  rm -f "$log"
  total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
  failed=$(sed -E 's/.*passed, ([0-9]+) tests? failed.*/\1/' <<<"$line")
  [ -n "$line" ] && tally $((total - failed)) "$failed"
  return $rc
}
