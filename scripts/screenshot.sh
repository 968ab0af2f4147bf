#!/usr/bin/env bash
# Starts Ferrolink under Wine on a private virtual X server and saves a
# screenshot of the screen as PNG: scripts/screenshot.sh [out.png] [seconds]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}
out=${1:-$build/screenshot.png}
wait=${2:-8}

command -v xwd >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq x11-apps >/dev/null
FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink >/dev/null
prefix="$build/wineprefix-run"
"$root/scripts/wine-prefix.sh" "$prefix"

display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1
/usr/lib/wine/wine64 explorer /desktop=shot,1280x900 "$build/Ferrolink.exe" >/dev/null 2>&1 &
sleep "$wait"
xwd -root -silent > "$build/screenshot.xwd"
python3 "$root/scripts/xwd2png.py" "$build/screenshot.xwd" "$out"
echo "$out"
