#!/usr/bin/env bash
# Runs every test of a build under Wine: a throwaway sandboxed prefix, a private X server and a
# private network namespace with its own wineserver, so fixed ports clash with nothing and no
# traffic leaves the machine.  Usage: tools/test.sh BUILD_DIR [ctest args...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd); shift
. "$here/wine-env.sh"

if [ "$(id -u)" -ne 0 ]; then
  echo "The tests need root (a private network namespace, low ports): run with sudo." >&2
  exit 1
fi

template=$build/wine/template
if [ ! -f "$template/.tovra-ready" ]; then
  echo "Preparing the Wine template prefix..."
  unshare -n bash -c ". '$here/wine-env.sh'; ip link set lo up; make_prefix '$template'"
  touch "$template/.tovra-ready"
fi
prefix_fonts "$template"  # also into templates made before the fonts were installed

prefix=$build/wine/test
rm -rf "$prefix" "$build/wine/drives"
cp -a "$template" "$prefix"
# Fixture drives D:, E: and F: (empty folders inside the build tree).
for d in d e f; do
  mkdir -p "$build/wine/drives/$d"
  ln -sfn "$build/wine/drives/$d" "$prefix/dosdevices/$d:"
done

start_xvfb
cleanup() { kill "$XVFB_PID" 2>/dev/null || true; }
trap cleanup EXIT

export WINEPREFIX=$prefix
set +e
unshare -n bash -c '
  # The port watch listens on IPv6 beside IPv4: ::1 must be there (a new namespace normally has it).
  if [ -w /proc/sys/net/ipv6/conf/lo/disable_ipv6 ]; then echo 0 > /proc/sys/net/ipv6/conf/lo/disable_ipv6; fi
  ip link set lo up
  wineserver -p
  wine cmd /c exit >/dev/null 2>&1 </dev/null   # services inherit this stderr: keep it away
  ctest --test-dir "$0" --output-on-failure "$@"
  rc=$?
  wineserver -k
  wineserver -w
  exit $rc' "$build" "$@"
rc=$?
set -e
exit $rc
