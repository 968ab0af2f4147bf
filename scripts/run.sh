#!/usr/bin/env bash
# Builds Ferrolink for Windows and starts it under Wine on the current
# display. Sets up whatever is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}

FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink
prefix="$build/wineprefix-run"
"$root/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$build/Ferrolink.exe" "$@"
