#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine (headless), one line per figure.
# Optional arguments: the size of the receive flood in MB (default 100), the
# largest number of server clients to try (100, 500 or 1000; default 1000) and
# the steps to run (any of record,flood,file,send,server,serial,settings,log,
# automation, sequence; default
# all but record; record floods with a pcapng recording and then without;
# flood also checks that a reader's place holds; file sends a file of the
# flood's size with Send File) and the
# serial port for the serial step (default COM7, the tests' virtual port).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}
FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink_bench >/dev/null
unset DISPLAY
# The same warmed-up wineserver as the tests use; a cold one can hang the
# first program started.
"$build/wine-server" start
trap '"$build/wine-server" stop' EXIT
# The responder's masters run as native Linux sockets, beside the bench.
pollers=
if [[ "${3:-}" == *automation* ]]; then
    export FERROLINK_BENCH_POLLERS_PORT=47811
    python3 "$root/bench/pollers.py" "$FERROLINK_BENCH_POLLERS_PORT" 100 100 100 &
    pollers=$!
fi
"$build/wine-run" "$build/bench/ferrolink_bench.exe" "$@"
[ -z "$pollers" ] || wait "$pollers" || true
