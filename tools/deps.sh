#!/usr/bin/env bash
# Installs what building and testing the suite needs, with apt, when it is missing.
set -euo pipefail

need=()
have() { command -v "$1" >/dev/null 2>&1; }
# A package counts as present only when dpkg has it fully installed (not merely known or removed).
installed() { [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null)" = "install ok installed" ]; }
have x86_64-w64-mingw32-g++-posix || need+=(g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64)
have i686-w64-mingw32-g++-posix   || need+=(g++-mingw-w64-i686-posix binutils-mingw-w64-i686)
have cmake   || need+=(cmake)
have c++     || need+=(g++)      # builds the tool that writes the medium's file.dat
have python3 || need+=(python3)   # writes the medium's shortcut files at build time
have wine    || need+=(wine)
[ -x /usr/lib/wine/wine64 ] || need+=(wine64)
have Xvfb    || need+=(xvfb)
have ip      || need+=(iproute2)
have unshare || need+=(util-linux)
have import  || need+=(imagemagick)
have xdpyinfo || need+=(x11-utils)
[ -f /usr/src/googletest/CMakeLists.txt ] || need+=(googletest)
# The forms are designed in Tahoma and Arial. Wine's own Tahoma and the metric-compatible Liberation
# fonts make captions and the menu bar measure as they do on Windows; without them a wider font
# stands in and the main window's menu bar wraps.
for p in fonts-wine fonts-liberation2; do installed "$p" || need+=("$p"); done

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -q
  $SUDO apt-get install -y -q --no-install-recommends "${need[@]}"
fi
