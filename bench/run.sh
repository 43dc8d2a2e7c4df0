#!/bin/sh
# The benchmark suite: vek against dash, bash, mksh and busybox sh, and
# vek's builtin filters, grep and sortl against the GNU tools.
#
#   bench/run.sh [--quick] [--runs N] [--size MB] [--only NAMES] [--out FILE]
#
# Builds the release build (build/) when it is missing, installs the peers
# that are missing, and hands over to bench/harness.py, which checks that
# every implementation of a line writes the same output and then times it.
# The table goes to standard output and to bench/results/ (see
# docs/performance.md).
set -u

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1

# Release build, as the README has it.
if [ ! -x build/vek ]; then
  echo "== building the release build in build/"
  cmake -S . -B build -DCMAKE_BUILD_TYPE=Release -DVEK_TESTS=OFF >/dev/null &&
    cmake --build build -j2 >/dev/null || { echo "build failed" >&2; exit 1; }
fi

# Peers. A package that cannot be installed leaves its peer out; the
# harness says which ones it skipped.
need=""
command -v dash >/dev/null 2>&1 || need="$need dash"
command -v bash >/dev/null 2>&1 || need="$need bash"
command -v mksh >/dev/null 2>&1 || need="$need mksh"
command -v busybox >/dev/null 2>&1 || need="$need busybox"
command -v sort >/dev/null 2>&1 || need="$need coreutils"
command -v grep >/dev/null 2>&1 || need="$need grep"
command -v find >/dev/null 2>&1 || need="$need findutils"
[ -x /usr/bin/time ] || need="$need time"
if [ -n "$need" ]; then
  if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "== installing:$need"
    apt-get update >/dev/null 2>&1 || echo "apt-get update failed"
    for p in $need; do
      DEBIAN_FRONTEND=noninteractive apt-get install -y -q "$p" >/dev/null 2>&1 ||
        echo "could not install $p: its peer is skipped"
    done
  else
    echo "missing:$need (not root or no apt-get): these peers are skipped"
  fi
fi

command -v python3 >/dev/null 2>&1 || { echo "python3 is needed" >&2; exit 1; }
exec nice -n 5 python3 "$root/bench/harness.py" --vek "$root/build/vek" "$@"
