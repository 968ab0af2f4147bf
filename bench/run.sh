#!/usr/bin/env bash
# Builds and runs the benchmarks under Wine (headless), one line per figure.
# Optional arguments: the size of the receive flood in MB (default 100), the
# largest number of server clients to try (100, 500 or 1000; default 1000) and
# the steps to run (any of record,flood,file,send,server,serial,settings,log,
# automation, sequence, tls, bridge; default
# all but record; record floods with a pcapng recording and then without;
# flood also checks that a reader's place holds; file sends a file of the
# flood's size with Send File; tls floods the TCP client from native peers,
# plain and then TLS, and times TLS handshakes; bridge joins two links, a
# TCP proxy and the virtual serial port served on TCP, bridgetcp and
# bridgepty one of them), the serial port for the serial step (default
# COM7, the tests' virtual port), and the MB of the TCP bridge (1024) and
# of each way of the serial one (10).
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
# The TLS step's native peers: the flood from a file, once over plain TCP
# and once over TLS, and a TLS echo for the handshakes.
peers=()
if [[ "${3:-}" == *tls* ]]; then
    tls=$build/bench-tls
    rm -rf "$tls" && mkdir -p "$tls"
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$tls/key.pem" -out "$tls/cert.pem" -days 30 \
        -subj /CN=127.0.0.1 2>/dev/null
    head -c $(( ${1:-100} << 20 )) /dev/zero | tr '\0' f >"$tls/flood"
    ports=()
    for _ in 1 2 3; do ports+=($((20000 + RANDOM % 30000))); done
    ssl="cert=$tls/cert.pem,key=$tls/key.pem,verify=0"
    socat -b 65536 -u "FILE:$tls/flood" "TCP-LISTEN:${ports[0]},bind=127.0.0.1,reuseaddr" & peers+=($!)
    socat -b 65536 -u "FILE:$tls/flood" "OPENSSL-LISTEN:${ports[1]},bind=127.0.0.1,reuseaddr,$ssl" & peers+=($!)
    socat "OPENSSL-LISTEN:${ports[2]},bind=127.0.0.1,reuseaddr,fork,$ssl" SYSTEM:cat & peers+=($!)
    trap '"$build/wine-server" stop; kill ${peers[*]} 2>/dev/null || true' EXIT
    export FERROLINK_BENCH_TLS="${ports[*]}"
    sleep 0.5
fi
"$build/wine-run" "$build/bench/ferrolink_bench.exe" "$@"
[ -z "$pollers" ] || wait "$pollers" || true
