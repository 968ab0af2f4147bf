#!/usr/bin/env bash
# Our pcapng files, read by Wireshark's own reader: the test program writes
# sample captures with what each must contain beside them (hex), and tshark
# must open them without a warning, find good checksums, follow every TCP
# stream to exactly the bytes each side sent, and see every packet's
# direction (0 sent, 1 received).
#   check-pcapng.sh <wine-run> <ferrolink_tests.exe> <folder>
set -uo pipefail
wine_run=$1 tests=$2 dir=$3
command -v tshark >/dev/null || { echo "tshark is missing (scripts/setup.sh installs it)"; exit 1; }
rm -f "$dir"/*.pcapng "$dir"/*.expect
"$wine_run" "$tests" --gtest_filter=Pcapng.SamplesForTshark:BridgeTest.CaptureHoldsBothSidesAsStreamsOfOneSession >/dev/null || { echo "writing the samples failed"; exit 1; }

status=0
fail() { echo "$*"; status=1; }
shark() { tshark "$@" 2>/dev/null; }

for name in tcp-client tcp-server journal-server bridge udp serial serial-lines serial-lines-recorded; do
    file="$dir/$name.pcapng"
    [ -f "$file" ] || { fail "$name: not written"; continue; }
    complaints=$(tshark -r "$file" 2>&1 >/dev/null | grep -v 'Running as user' || true)
    [ -z "$complaints" ] || fail "$name: tshark says: $complaints"
    shark -r "$file" -q -z expert | grep -Eq '^(Errors|Warnings) ' && fail "$name: expert warnings"
    statuses=$(tshark -r "$file" -o ip.check_checksum:TRUE -o tcp.check_checksum:TRUE -o udp.check_checksum:TRUE \
        -T fields -e ip.checksum.status -e tcp.checksum.status -e udp.checksum.status 2>&1 |
        grep -v 'Running as user' | tr '\t' '\n' | grep -v '^$')
    bad=$(printf '%s\n' "$statuses" | grep -v '^$' | grep -vc '^1$')
    good=$(printf '%s\n' "$statuses" | grep -c '^1$')
    packets=$(shark -r "$file" -T fields -e frame.number | wc -l)
    [ "$bad" = 0 ] || fail "$name: checksums not all good: $(printf '%s' "$statuses" | sort | uniq -c | tr '\n' ' ')"
    # Every IP packet has its IP checksum checked at least, and found good.
    [ "${name%%-*}" = serial ] || [ "$good" -ge "$packets" ] || fail "$name: $good good checksums for $packets packets"
done

for name in tcp-client tcp-server journal-server bridge; do
    while read -r stream client server; do
        out=$(shark -r "$dir/$name.pcapng" -q -z "follow,tcp,raw,$stream" | sed -n '/^Node 1:/,/^====/p' | sed '1d;$d')
        got_client=$(printf '%s\n' "$out" | grep -v $'^\t' | tr -d '\n')
        got_server=$(printf '%s\n' "$out" | grep $'^\t' | tr -d '\t\n')
        [ "$got_client" = "$client" ] || fail "$name stream $stream: the client's bytes differ"
        [ "$got_server" = "$server" ] || fail "$name stream $stream: the server's bytes differ"
    done < "$dir/$name.expect"
done

# The client sent the request and the large block, the server the answer.
directions=$(shark -r "$dir/tcp-client.pcapng" -Y 'tcp.len > 0' -T fields -e frame.p2p_dir | tr '\n' ' ')
[ "$directions" = "0 1 0 0 " ] || fail "tcp-client: directions $directions"
# The server received each client's hello and sent its reply.
directions=$(shark -r "$dir/tcp-server.pcapng" -Y 'tcp.len > 0' -T fields -e frame.p2p_dir | tr '\n' ' ')
[ "$directions" = "1 1 0 0 " ] || fail "tcp-server: directions $directions"

got=$(shark -r "$dir/udp.pcapng" -T fields -e frame.p2p_dir -e udp.payload | tr '\t' ' ')
[ "$got" = "$(cat "$dir/udp.expect")" ] || fail "udp: got $got"
got=$(shark -r "$dir/serial.pcapng" -T fields -e frame.p2p_dir -e data.data | tr '\t' ' ')
[ "$got" = "$(cat "$dir/serial.expect")" ] || fail "serial: got $got"
events=$(shark -r "$dir/serial.pcapng" -T fields -e rtacser.eventtype | tr '\n' ' ')
[ "$events" = "0x01 0x02 " ] || fail "serial: events $events"

# The control lines and Breaks of a serial run, in its recording and its export alike.
for name in serial-lines serial-lines-recorded; do
    got=$(shark -r "$dir/$name.pcapng" -T fields -e frame.p2p_dir -e rtacser.eventtype -e rtacser.cts \
        -e rtacser.dtr -e rtacser.rts | tr '\t' ' ')
    [ "$got" = "$(cat "$dir/serial-lines.expect")" ] || fail "$name: got $got"
done

[ $status -eq 0 ] && echo "tshark reads the TCP client, TCP server, UDP and serial captures as written"
exit $status
