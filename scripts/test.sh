#!/usr/bin/env bash
# Builds Ferrolink and its tests for Windows and runs every test under Wine,
# headless. Sets up whatever is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}

FERROLINK_BUILD="$build" "$root/scripts/build.sh"
unset DISPLAY
cd "$build"
ctest --output-on-failure --timeout 120 </dev/null
