#!/usr/bin/env bash
# TLS against OpenSSL's own peers on loopback: a certificate made here (and
# a .pfx of it), `openssl s_server -rev` for our client, `openssl s_client`
# for our server (where the system's TLS provider has a server side: Wine's
# has none); then the captures, whose plaintext tshark must follow.
#   check-tls.sh <wine-run> <ferrolink_tests.exe> <folder>
set -uo pipefail
wine_run=$1 tests=$2 dir=$3
for tool in openssl tshark; do
    command -v $tool >/dev/null || { echo "$tool is missing (scripts/setup.sh installs it)"; exit 1; }
done
rm -rf "$dir" && mkdir -p "$dir"
pids=()
cleanup() { [ ${#pids[@]} -eq 0 ] || kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; }
trap cleanup EXIT

openssl req -x509 -newkey rsa:2048 -nodes -keyout "$dir/key.pem" -out "$dir/cert.pem" -days 30 \
    -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 2>/dev/null || { echo "no certificate"; exit 1; }
openssl pkcs12 -export -in "$dir/cert.pem" -inkey "$dir/key.pem" -out "$dir/server.pfx" \
    -passout pass:ferrolink-test -certpbe PBE-SHA1-3DES -keypbe PBE-SHA1-3DES -macalg sha1 2>/dev/null ||
    { echo "no .pfx"; exit 1; }

# A port nothing answers on.
free_port() {
    local port
    for _ in $(seq 50); do
        port=$((20000 + RANDOM % 30000))
        (exec 3<>/dev/tcp/127.0.0.1/$port) 2>/dev/null || { echo $port; return; }
    done
    return 1
}
rev_port=$(free_port) && server_port=$(free_port) || { echo "no free port"; exit 1; }

openssl s_server -accept "127.0.0.1:$rev_port" -cert "$dir/cert.pem" -key "$dir/key.pem" -rev \
    >"$dir/s_server.out" 2>&1 </dev/null &
pids+=($!)
for _ in $(seq 50); do grep -q ACCEPT "$dir/s_server.out" && break; sleep 0.1; done

# Our server's client, once the test says the server listens.
(
    for _ in $(seq 300); do [ -f "$dir/listening" ] || [ -f "$dir/no-server-side" ] && break; sleep 0.1; done
    [ -f "$dir/listening" ] || exit 0
    { printf 'hello from openssl\n'; sleep 5; } |
        timeout 20 openssl s_client ${S_CLIENT_EXTRA:-} -connect "127.0.0.1:$server_port" -quiet >"$dir/s_client.out" 2>"$dir/s_client.err"
) &
pids+=($!)

status=0
FERROLINK_TLS_DIR="Z:${dir//\//\\}" FERROLINK_TLS_REV_PORT=$rev_port FERROLINK_TLS_SERVER_PORT=$server_port \
    "$wine_run" "$tests" --gtest_filter='TlsPeer.*' >"$dir/tests.out" 2>&1 || status=1
# Skipped is a failure, but for a provider with no server side.
skipped=$(grep -o '^\[  SKIPPED \] TlsPeer\.[A-Za-z]*' "$dir/tests.out" | sort -u | wc -l)
[ -f "$dir/no-server-side" ] && skipped=$((skipped - 1))
[ "$skipped" -le 0 ] || status=1
[ $status = 0 ] || { echo "the TLS tests failed:"; cat "$dir/tests.out"; }
wait "${pids[1]}" 2>/dev/null

# Stream 0 of a capture: what the client sent, and the server.
follows() {
    local out from_client from_server
    out=$(tshark -r "$1" -q -z "follow,tcp,raw,0" 2>/dev/null | sed -n '/^Node 1:/,/^====/p' | sed '1d;$d')
    from_client=$(printf '%s\n' "$out" | grep -v $'^\t' | tr -d '\n')
    from_server=$(printf '%s\n' "$out" | grep $'^\t' | tr -d '\t\n')
    [ "$from_client" = "$2" ] || { echo "$1: the client's bytes differ"; status=1; }
    [ "$from_server" = "$3" ] || { echo "$1: the server's bytes differ"; status=1; }
}
hex() { printf "$1" | od -An -tx1 | tr -d ' \n'; }

if [ -f "$dir/tls-client.pcapng" ]; then
    follows "$dir/tls-client.pcapng" "$(cat "$dir/tls-client.sent")" "$(cat "$dir/tls-client.received")"
else
    echo "no client capture written"
    status=1
fi
if [ -f "$dir/no-server-side" ]; then
    echo "TLS server: not tried, this system's TLS provider has no server side"
else
    grep -qx 'hello from ferrolink' "$dir/s_client.out" ||
        { echo "s_client did not get the server's answer:"; cat "$dir/s_client.out" "$dir/s_client.err"; status=1; }
    if [ -f "$dir/tls-server.pcapng" ]; then
        follows "$dir/tls-server.pcapng" "$(hex 'hello from openssl\n')" "$(hex 'hello from ferrolink\n')"
    else
        echo "no server capture written"
        status=1
    fi
fi
[ $status = 0 ] && echo "TLS against OpenSSL, and its captures, as expected"
exit $status
