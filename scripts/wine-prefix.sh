#!/usr/bin/env bash
# Makes a Wine prefix for Ferrolink once: 64-bit, fonts where Wine finds them,
# no crash dialog, and with --headless the null display driver, so windows
# work without an X server and nothing can block on a hidden dialog.
set -euo pipefail
prefix=$1
headless=${2:-}
stamp="$prefix/.ferrolink-ready$headless"
[ -f "$stamp" ] && exit 0

export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY
wine=/usr/lib/wine/wine64
mkdir -p "$prefix"
echo "Creating Wine prefix $prefix ..."
"$wine" wineboot -i </dev/null >/dev/null 2>&1
reg() { "$wine" reg add "$@" /f </dev/null >/dev/null 2>&1; }
reg 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0
reg 'HKCU\Software\Wine\X11 Driver' /v Managed /d N
reg 'HKCU\Software\Wine\Fonts\Replacements' /v Consolas /d 'DejaVu Sans Mono'
if [ "$headless" = "--headless" ]; then
    reg 'HKCU\Software\Wine\Drivers' /v Graphics /d null
fi
mkdir -p "$prefix/drive_c/windows/Fonts"
cp -n /usr/share/wine/fonts/* "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
wineserver -w
touch "$stamp"
