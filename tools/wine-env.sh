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
  # The sandbox settings, written in one import and read back: a setting that silently failed to
  # land (a first Wine start after wineboot can outlast its timeout on a loaded machine) would
  # make every window hide take two seconds (Managed) or open crash dialogs.
  local fake; fake="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/fakebrowser.sh"
  local regfile=$dir/drive_c/tovra-settings.reg
  {
    printf 'REGEDIT4\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n"Managed"="N"\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\r\n"ShowCrashDialog"=dword:00000000\r\n\r\n'
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\DllOverrides]\r\n"winemenubuilder.exe"=""\r\n\r\n'
    # Opened addresses go to a log, never to a real browser or the network.
    printf '[HKEY_CURRENT_USER\\Software\\Wine\\WineBrowser]\r\n"Browsers"="%s"\r\n"Mailers"="%s"\r\n\r\n' \
      "$fake" "$fake"
  } > "$regfile"
  local try
  for try in 1 2 3; do
    WINEPREFIX=$dir timeout 60 wineserver -p 5 || true
    WINEPREFIX=$dir timeout 120 wine cmd /c exit >/dev/null 2>&1 </dev/null || true
    WINEPREFIX=$dir timeout 120 wine regedit /S 'C:\tovra-settings.reg' >/dev/null 2>&1 </dev/null || true
    WINEPREFIX=$dir timeout 60 wineserver -k || true
    WINEPREFIX=$dir timeout 60 wineserver -w || true
    if grep -q '^\[Software\\\\Wine\\\\X11 Driver\]' "$dir/user.reg" 2>/dev/null &&
       grep -q '"Managed"="N"' "$dir/user.reg" && grep -q '"ShowCrashDialog"=dword:00000000' "$dir/user.reg" &&
       grep -q "fakebrowser.sh" "$dir/user.reg"; then
      break
    fi
    [ "$try" -lt 3 ] || { echo "could not write the sandbox settings into $dir/user.reg" >&2; return 1; }
  done
  rm -f "$regfile"
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
