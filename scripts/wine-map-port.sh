#!/usr/bin/env bash
# Maps a COM port of a Wine prefix to a Unix device path (kept as given, so a
# symlink that is re-created later still works). Once per prefix and target.
set -euo pipefail
prefix=$1 port=$2 target=$3
stamp="$prefix/.ferrolink-$port"
[ -f "$stamp" ] && [ "$(cat "$stamp")" = "$target" ] && exit 0
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
/usr/lib/wine/wine64 reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$target" /f </dev/null >/dev/null 2>&1
wineserver -k </dev/null >/dev/null 2>&1 || true
wineserver -w
echo "$target" > "$stamp"
