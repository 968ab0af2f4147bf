#!/usr/bin/env bash
# Builds Ferrolink for Windows and starts it under Wine on the current
# display. Sets up whatever is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}

# Without a display Wine would start the program where nobody can see it.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    cat >&2 <<'EOT'
There is no display to show the Ferrolink window on (DISPLAY is not set).
Run this from a desktop session, or give it a virtual one:
    xvfb-run -a -s "-screen 0 1280x900x24" scripts/run.sh
(apt-get install xvfb brings xvfb-run). For pictures of the window without
a display, use scripts/screenshot.sh.
EOT
    exit 1
fi

FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink
prefix="$build/wineprefix-run"
"$root/scripts/wine-prefix.sh" "$prefix"
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$build/Ferrolink.exe" "$@"
