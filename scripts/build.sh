#!/usr/bin/env bash
# Sets up what is missing, then configures and builds the cross build.
# Extra arguments go to the build step (for example: --target ferrolink).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}

"$root/scripts/setup.sh"
cmake -S "$root" -B "$build" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$build" "$@"
