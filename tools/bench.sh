#!/usr/bin/env bash
# Runs the benchmarks (build/bin/bench_*.exe) in a throwaway sandboxed prefix and prints their
# ratios. Usage: tools/bench.sh BUILD_DIR [bench name...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd); shift
. "$here/wine-env.sh"
template=$build/wine/template
if [ ! -f "$template/.tovra-ready" ]; then
  unshare -n bash -c ". '$here/wine-env.sh'; ip link set lo up; make_prefix '$template'"
  touch "$template/.tovra-ready"
fi
export WINEPREFIX=$build/wine/bench
rm -rf "$WINEPREFIX"
cp -a "$template" "$WINEPREFIX"
# The answer-time benchmarks need windows: a private X server, as for the tests.
start_xvfb
trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
names=("$@")
[ ${#names[@]} -gt 0 ] || names=($(cd "$build/bin" && ls bench_*.exe 2>/dev/null | sed 's/\.exe$//'))
unshare -n bash -c '
  ip link set lo up
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 </dev/null
  rc=0
  for b in "$@"; do echo "== $b"; wine "$0/bin/$b.exe" || rc=1; done
  wineserver -k; wineserver -w
  exit $rc' "$build" "${names[@]}"
