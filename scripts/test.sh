#!/usr/bin/env bash
# Builds Ferrolink and its tests for Windows and runs every test under Wine,
# headless. Sets up whatever is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build"
unset DISPLAY
cd "$build"
ctest --output-on-failure --timeout 120 </dev/null
