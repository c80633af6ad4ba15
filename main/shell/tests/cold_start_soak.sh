#!/usr/bin/env bash
# Cold starts of the real tovra.exe: each in a fresh copy of the test prefix with its own
# wineserver, tovra the first program there. During its first seconds another process makes
# connection attempts to the watched ports, and at 10 s another Wine program comes and goes; 12 s
# after the start the main window must still be there and answer, and the process must run.
# Under Wine a lost window goes with the end of the desktop process (explorer.exe /desktop), which
# wineserver closes a second after it believes no program uses the desktop any more.
#   Usage: cold_start_soak.sh BUILD_DIR [PROBE_EXE]
#   TOVRA_SOAK_STARTS  number of starts (default 4, about a minute)
#   TOVRA_SOAK_EXE     another tovra.exe to start (e.g. an older build, to compare)
# Runs under tools/test.sh (root, a private network, DISPLAY set); the template prefix is the one
# that tools/test.sh prepares.
set -uo pipefail

fail() { echo "cold_start_soak: $*" >&2; exit 1; }

build=$(cd "${1:?build dir}" 2>/dev/null && pwd) || fail "no build dir '$1'"
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../../.." && pwd)
tovra=${TOVRA_SOAK_EXE:-$build/bin/tovra.exe}
probe=${2:-$build/bin/cold_start_probe.exe}
template=$build/wine/template
starts=${TOVRA_SOAK_STARTS:-4}
settle=12
knock_for=8


. "$root/tools/wine-env.sh" || fail "cannot read tools/wine-env.sh"
[ -f "$tovra" ] || fail "no $tovra: build first"
[ -f "$probe" ] || fail "no $probe: build first"
[ -f "$template/.tovra-ready" ] || fail "no template prefix $template: run through tools/test.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run through tools/test.sh"
[[ "$starts" =~ ^[1-9][0-9]*$ ]] || fail "TOVRA_SOAK_STARTS must be a positive number, not '$starts'"
command -v wineserver >/dev/null || fail "no wineserver on PATH"

work=$build/wine/soak
rm -rf "$work"
mkdir -p "$work" || fail "cannot make $work"

# The watched ports, from the port watch's own table (asked in a scratch prefix of their own).
scratch=$work/ports
cp -a "$template" "$scratch" || fail "cannot copy the template prefix"
# Into a file: the services this first program starts inherit its descriptors and keep a pipe open.
WINEPREFIX=$scratch timeout 60 wine "$probe" ports >"$work/ports.txt" 2>/dev/null </dev/null
ports=$(tr -d '\r\n' <"$work/ports.txt")
WINEPREFIX=$scratch timeout 30 wineserver -k >/dev/null 2>&1
WINEPREFIX=$scratch timeout 30 wineserver -w >/dev/null 2>&1
rm -rf "$scratch"
[[ "$ports" =~ ^[0-9\ ]+$ ]] || fail "the probe did not name the watched ports (got '$ports')"

lost=0
for i in $(seq 1 "$starts"); do
  pfx=$work/p$i
  cp -a "$template" "$pfx" || fail "cannot copy the template prefix"
  dest="$pfx/drive_c/Program Files/tovra"
  mkdir -p "$dest" && cp "$tovra" "$probe" "$dest/" || fail "cannot install into $dest"
  export WINEPREFIX=$pfx
  # Everything the first program of a server starts (services, the desktop) inherits these
  # descriptors: point them at a file so nothing waits on them.
  log=$work/p$i.log
  start=$(date +%s.%N)
  ( cd "$dest" && exec timeout $((settle + 60)) wine tovra.exe ) >"$log" 2>&1 </dev/null &
  tovra_pid=$!
  sleep 0.5
  # Connection attempts to every watched port (refused: nothing listens yet) through the splash,
  # the main window's load and what follows it; then quiet until the check.
  until awk -v s="$start" -v n="$(date +%s.%N)" -v t="$knock_for" 'BEGIN { exit !(n - s > t) }'; do
    for port in $ports; do
      timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && echo "port $port answered" >>"$log"
    done
    sleep 0.2
  done
  # At 10 s another (Wine) program comes and goes, knocking too; the check follows 2 s later.
  sleep_until() { sleep "$(awk -v s="$start" -v n="$(date +%s.%N)" -v t="$1" 'BEGIN { r = t - (n - s); print (r > 0 ? r : 0) }')"; }
  sleep_until 10
  timeout 30 wine "C:\\Program Files\\tovra\\cold_start_probe.exe" knock 300 >>"$log" 2>&1 </dev/null
  sleep_until "$settle"
  timeout 30 wine "C:\\Program Files\\tovra\\cold_start_probe.exe" check >"$work/seen.txt" 2>>"$log" </dev/null
  rc=$?
  seen=$(tr -d '\r' <"$work/seen.txt")
  if [ $rc -ne 0 ] && [ $rc -ne 1 ]; then
    timeout 30 wineserver -k >/dev/null 2>&1
    fail "start $i: the probe could not run (rc $rc): $(tail -3 "$log")"
  fi
  # The Linux process must still be there too: a check that ran after tovra died proves nothing.
  kill -0 "$tovra_pid" 2>/dev/null || seen="$seen (tovra's wine process has ended)"
  if [ $rc -eq 0 ] && kill -0 "$tovra_pid" 2>/dev/null; then
    echo "start $i: kept its window: $seen"
  else
    echo "start $i: LOST its window: $seen"
    lost=$((lost + 1))
  fi
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  wait "$tovra_pid" 2>/dev/null
  rm -rf "$pfx"
done
rm -rf "$work"
echo "cold_start_soak: $((starts - lost)) of $starts starts kept the main window"
[ $lost -eq 0 ]
