#!/usr/bin/env bash
# Cold starts of the real tovra.exe: each in a fresh copy of the test prefix with its own
# wineserver, tovra the first program there. During its first seconds another process makes
# connection attempts to the watched ports; 12 s after the start (after the 10 s that count, as a
# window lost at 10 s is gone by then) the main window must still be there and answer, and the
# process must run. The check is a Wine program of that prefix.
# Under Wine a lost window goes with the end of the desktop process (explorer.exe /desktop), which
# wineserver closes a second after it believes no program uses the desktop any more.
#   Usage: cold_start_soak.sh BUILD_DIR [PROBE_EXE]
#   TOVRA_SOAK_STARTS    number of starts (default 8: about a minute, two at a time)
#   TOVRA_SOAK_PARALLEL  starts run side by side (default 2; 1 for one after the other)
#   TOVRA_SOAK_EXE       another tovra.exe to start (e.g. an older build, to compare)
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
starts=${TOVRA_SOAK_STARTS:-8}
parallel=${TOVRA_SOAK_PARALLEL:-2}
settle=12
knock_for=8

. "$root/tools/wine-env.sh" || fail "cannot read tools/wine-env.sh"
[ -f "$tovra" ] || fail "no $tovra: build first"
[ -f "$probe" ] || fail "no $probe: build first"
[ -f "$template/.tovra-ready" ] || fail "no template prefix $template: run through tools/test.sh"
[ -n "${DISPLAY:-}" ] || fail "no DISPLAY: run through tools/test.sh"
[[ "$starts" =~ ^[1-9][0-9]*$ ]] || fail "TOVRA_SOAK_STARTS must be a positive number, not '$starts'"
[[ "$parallel" =~ ^[1-9][0-9]*$ ]] || fail "TOVRA_SOAK_PARALLEL must be a positive number, not '$parallel'"
command -v wineserver >/dev/null || fail "no wineserver on PATH"

work=$build/wine/soak
rm -rf "$work"
mkdir -p "$work" || fail "cannot make $work"
# Whatever way the script ends, no server of its prefixes outlives it.
cleanup() {
  local p
  for p in "$work"/*/; do
    [ -d "$p/drive_c" ] && WINEPREFIX=${p%/} timeout 30 wineserver -k >/dev/null 2>&1
  done
  rm -rf "$work"
}
trap cleanup EXIT

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

# One start: prints "kept" or "lost" with what the probe saw; exit code 2 when it cannot run.
one_start() {
  local i=$1 pfx=$work/p$1 log=$work/p$1.log
  cp -a "$template" "$pfx" || { echo "cannot copy the template prefix"; return 2; }
  local dest="$pfx/drive_c/Program Files/tovra"
  mkdir -p "$dest" && cp "$tovra" "$probe" "$dest/" || { echo "cannot install into $dest"; return 2; }
  export WINEPREFIX=$pfx
  # Everything the first program of a server starts (services, the desktop) inherits these
  # descriptors: point them at a file so nothing waits on them.
  local start; start=$(date +%s.%N)
  ( cd "$dest" && exec timeout $((settle + 60)) wine tovra.exe ) >"$log" 2>&1 </dev/null &
  local tovra_pid=$!
  sleep 0.5
  # Connection attempts to every watched port (refused: nothing listens yet) through the splash,
  # the main window's load and what follows it; then quiet until the check.
  local port
  until awk -v s="$start" -v n="$(date +%s.%N)" -v t="$knock_for" 'BEGIN { exit !(n - s > t) }'; do
    for port in $ports; do
      timeout 1 bash -c "exec 3<>/dev/tcp/127.0.0.1/$port" 2>/dev/null && echo "port $port answered" >>"$log"
    done
    sleep 0.2
  done
  sleep "$(awk -v s="$start" -v n="$(date +%s.%N)" -v t="$settle" 'BEGIN { r = t - (n - s); print (r > 0 ? r : 0) }')"
  timeout 30 wine "C:\\Program Files\\tovra\\cold_start_probe.exe" check >"$pfx.seen" 2>>"$log" </dev/null
  local rc=$?
  local seen; seen=$(tr -d '\r' <"$pfx.seen")
  # The Linux process must still be there too: a check that ran after tovra died proves nothing.
  local alive=1
  kill -0 "$tovra_pid" 2>/dev/null || { alive=0; seen="$seen (tovra's wine process has ended)"; }
  timeout 30 wineserver -k >/dev/null 2>&1
  timeout 30 wineserver -w >/dev/null 2>&1
  wait "$tovra_pid" 2>/dev/null
  rm -rf "$pfx"
  if [ $rc -ne 0 ] && [ $rc -ne 1 ]; then echo "the probe could not run (rc $rc): $(tail -3 "$log")"; return 2; fi
  if [ $rc -eq 0 ] && [ $alive = 1 ]; then echo "kept its window: $seen"; else echo "LOST its window: $seen"; fi
}

# Starts run side by side, each with its own prefix and server, so a minute holds more of them.
lost=0
i=0
while [ $i -lt "$starts" ]; do
  round=()
  for _ in $(seq 1 "$parallel"); do
    [ $i -lt "$starts" ] || break
    i=$((i + 1))
    ( one_start $i >"$work/r$i.txt"; echo $? >"$work/r$i.rc" ) &
    round+=($i)
    sleep 0.3
  done
  wait
  for k in "${round[@]}"; do
    result=$(cat "$work/r$k.txt")
    [ "$(cat "$work/r$k.rc")" = 2 ] && fail "start $k: $result"
    echo "start $k: $result"
    case $result in kept*) ;; *) lost=$((lost + 1)) ;; esac
  done
done
echo "cold_start_soak: $((starts - lost)) of $starts starts kept the main window"
[ $lost -eq 0 ]
