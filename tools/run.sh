#!/usr/bin/env bash
# Starts the suite in a persistent sandboxed Wine prefix under the build folder, laid out as the
# installer would: C:\Program Files\tovra with the four programs and file.dat.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:?build dir}" && pwd)
. "$here/wine-env.sh"

export WINEPREFIX=$build/wine/run
if [ ! -f "$WINEPREFIX/.tovra-ready" ]; then
  echo "Preparing the Wine prefix $WINEPREFIX..."
  make_prefix "$WINEPREFIX"
  touch "$WINEPREFIX/.tovra-ready"
fi
prefix_fonts "$WINEPREFIX"  # also into prefixes made before the fonts were installed
dest="$WINEPREFIX/drive_c/Program Files/tovra"
mkdir -p "$dest"
cp "$build"/bin/{tovra,tovraa,utovraa,setup}.exe "$dest/"
cp "$build/dist/file.dat" "$dest/file.dat"

headless=0
if [ -z "${DISPLAY:-}" ]; then
  headless=1
  start_xvfb
  trap 'kill "$XVFB_PID" 2>/dev/null || true' EXIT
fi

cd "$dest"
wine "C:\\Program Files\\tovra\\tovra.exe" &
app=$!
if [ "$headless" -eq 1 ]; then
  # The splash shows for three seconds; then the main window stands at the right edge.
  sleep 6
  import -display "$DISPLAY" -window root "$build/screenshot.png"
  echo "Screenshot saved to $build/screenshot.png"
  wineserver -k || true
else
  wait "$app"
fi
