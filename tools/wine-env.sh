# Shared settings for every Wine run of the suite (sourced).
export WINEDEBUG=-all
# No Mono/Gecko installers, no menu builder writing into $HOME.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

# make_prefix DIR: a fresh, sandboxed Wine prefix.
make_prefix() {
  local dir=$1
  rm -rf "$dir"
  mkdir -p "$(dirname "$dir")"
  WINEPREFIX=$dir timeout 300 wineboot --init >/dev/null 2>&1 </dev/null || true
  WINEPREFIX=$dir timeout 60 wineserver -w || true
  local users=$dir/drive_c/users u
  for u in "$users"/*; do
    [ -d "$u" ] || continue
    # Wine links these to the real home folder; a sweep or scan must never reach it.
    local d
    for d in Desktop Documents Downloads Music Pictures Videos Templates \
             AppData/Roaming/Microsoft/Windows/Templates; do
      if [ -L "$u/$d" ]; then rm "$u/$d"; mkdir -p "$u/$d"; fi
    done
  done
  local reg="WINEPREFIX=$dir timeout 60 wine reg add"
  eval "$reg 'HKCU\\Software\\Wine\\X11 Driver' /v Managed /d N /f" >/dev/null 2>&1
  eval "$reg 'HKCU\\Software\\Wine\\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f" >/dev/null 2>&1
  eval "$reg 'HKCU\\Software\\Wine\\DllOverrides' /v winemenubuilder.exe /d '' /f" >/dev/null 2>&1
  # Opened addresses go to a log, never to a real browser or the network.
  local fake; fake="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fakebrowser.sh"
  eval "$reg 'HKCU\\Software\\Wine\\WineBrowser' /v Browsers /d '$fake' /f" >/dev/null 2>&1
  eval "$reg 'HKCU\\Software\\Wine\\WineBrowser' /v Mailers /d '$fake' /f" >/dev/null 2>&1
  WINEPREFIX=$dir timeout 60 wineserver -k || true
  WINEPREFIX=$dir timeout 60 wineserver -w || true
  [ -d "$dir/drive_c/windows" ] || { echo "could not create Wine prefix $dir" >&2; return 1; }
  prefix_fonts "$dir"
}

# prefix_fonts DIR: Wine's own Tahoma (Debian's fonts-wine) into the prefix's Fonts folder. Wine 8
# as Debian ships it does not load /usr/share/wine/fonts/tahoma.ttf by itself: a form asking for
# Tahoma then gets Liberation Sans, narrower and drawn differently (a menu bar "Firewall" loses its
# last "l"). From C:\windows\Fonts it is loaded and the forms measure as designed.
prefix_fonts() {
  local fonts=$1/drive_c/windows/Fonts f
  mkdir -p "$fonts"
  for f in /usr/share/wine/fonts/tahoma.ttf /usr/share/wine/fonts/tahomabd.ttf; do
    if [ -f "$f" ]; then
      cp -u "$f" "$fonts/"
    else
      echo "warning: $f is missing (package fonts-wine): Tahoma will be replaced by a wider font" >&2
    fi
  done
}

# start_xvfb: starts a private X server, sets DISPLAY and XVFB_PID.
start_xvfb() {
  local n=90
  while [ -e /tmp/.X$n-lock ] || [ -e /tmp/.X11-unix/X$n ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
  XVFB_PID=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 100); do
    [ -e /tmp/.X11-unix/X$n ] && return 0
    sleep 0.1
  done
  echo "Xvfb did not start" >&2
  return 1
}
