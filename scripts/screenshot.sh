#!/usr/bin/env bash
# Starts Ferrolink under Wine on a private virtual X server and saves PNG
# screenshots of its window, one per link mode (or the modes named):
#   scripts/screenshot.sh [tcp-client|tcp-server|udp|serial ...]
# The pictures go to doc/screenshots/<mode>.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}
out="$root/doc/screenshots"
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(tcp-client tcp-server udp serial)

command -v xwd >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -qq x11-apps >/dev/null
FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink >/dev/null
prefix="$build/wineprefix-run"
"$root/scripts/wine-prefix.sh" "$prefix"
mkdir -p "$out"

display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
cleanup() { wineserver -k 2>/dev/null || true; kill "$xvfb" 2>/dev/null || true; }
trap cleanup EXIT
sleep 1

# The mode is chosen the way a user's last session leaves it: in the INI file.
settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Ferrolink"
for mode in "${modes[@]}"; do
    case "$mode" in
    tcp-client) comm=0 protocol=0 server=0 ;;
    tcp-server) comm=0 protocol=0 server=1 ;;
    udp)        comm=0 protocol=1 server=0 ;;
    serial)     comm=1 protocol=0 server=0 ;;
    *) echo "unknown mode: $mode" >&2; exit 2 ;;
    esac
    mkdir -p "$settings"
    printf '[Connection]\r\nCommunication=%s\r\nIP=127.0.0.1\r\nPort=5000\r\nProtocol=%s\r\nMode=%s\r\n[Window]\r\nLeft=0\r\nTop=0\r\nRight=1100\r\nBottom=760\r\n' \
        "$comm" "$protocol" "$server" > "$settings/Ferrolink.ini"
    /usr/lib/wine/wine64 explorer /desktop=shot,1280x900 "$build/Ferrolink.exe" >/dev/null 2>&1 &
    sleep 8
    xwd -root -silent > "$build/screenshot.xwd"
    python3 "$root/scripts/xwd2png.py" "$build/screenshot.xwd" "$out/$mode.png"
    wineserver -k 2>/dev/null || true
    sleep 1
    echo "$out/$mode.png"
done
