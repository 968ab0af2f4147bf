#!/usr/bin/env bash
# Starts Ferrolink under Wine on a private virtual X server and saves PNG
# pictures of its window, one per link mode (or the modes named), at 96 DPI
# and, with --dpi 144, at 150 % on a 1280 x 900 screen:
#   scripts/screenshot.sh [--dpi 96|144] [tcp-client|tcp-server|udp|serial|recording|clients|framing ...]
# "recording" is a TCP client talking to a local peer, recording to a
# pcapng file, with the hex view shown. "clients" is a TCP server with
# three clients, two of them picked and the list's menu open. "framing" is a
# TCP client asking for the delimiter to frame its lines with.
# "serial" opens a pseudo-terminal port as COM7 with DTR and RTS left off,
# and sends a Break and a command to the device the script plays.
# "automation" is a TCP server answering a client by its responder rules,
# with the automation window open beside it. "bridge" is a TCP server (A)
# joined to a TCP client (B) of a device the script plays, a client of A
# asking and the device answering through the bridge; "bridge-dialog" is
# the bridge's settings; "bridge-serial" a server whose bridge's second link
# is a serial port, with that port's control lines.
# The pictures go to doc/screenshots/<mode>.png, or <mode>-144dpi.png.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FERROLINK_BUILD:-$root/build}
out="$root/doc/screenshots"
dpi=96
if [ "${1:-}" = "--dpi" ]; then
    dpi=$2
    shift 2
fi
modes=("$@")
[ ${#modes[@]} -gt 0 ] || modes=(tcp-client tcp-server udp serial)

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null || need+=(imagemagick)
command -v xdotool >/dev/null || need+=(xdotool)
command -v socat >/dev/null || need+=(socat)
if [ ${#need[@]} -gt 0 ]; then
    [ "$(id -u)" -eq 0 ] && sudo= || sudo=sudo
    $sudo apt-get update -qq >/dev/null
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi
FERROLINK_BUILD="$build" "$root/scripts/build.sh" --target ferrolink >/dev/null
prefix="$build/wineprefix-run"
"$root/scripts/wine-prefix.sh" "$prefix"
mkdir -p "$out"

# The window is 1100 x 760 at 96 DPI and scales with the DPI; above 96 DPI
# the screen is 1280 x 900, as on many a laptop set to 150 %, and the
# window fills it.
width=$((1100 * dpi / 96))
height=$((760 * dpi / 96))
# Room at the right for the automation window.
screen="$((width + 600))x$((height + 140))"
if [ "$dpi" -gt 96 ]; then
    screen=1280x900
    width=$((width < 1280 ? width : 1280))
    height=$((height < 900 ? height : 900))
fi
suffix=""
[ "$dpi" -eq 96 ] || suffix="-${dpi}dpi"

display=90
while [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 "${screen}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
export DISPLAY=":$display" WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wine=/usr/lib/wine/wine64
cleanup() {
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 96 /f >/dev/null 2>&1 || true
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
# Where a recording's file dialog starts.
work=$(mktemp -d)
cd "$work"
sleep 1
"$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
wineserver -w

# The mode is chosen the way a user's last session leaves it: in the INI file.
settings="$prefix/drive_c/users/$(whoami)/AppData/Local/Ferrolink"
for mode in "${modes[@]}"; do
    case "$mode" in
    tcp-client|recording|framing|options) comm=0 protocol=0 server=0 ;;
    tcp-server|clients|automation|bridge|bridge-dialog|bridge-serial) comm=0 protocol=0 server=1 ;;
    udp)        comm=0 protocol=1 server=0 ;;
    serial)     comm=1 protocol=0 server=0 ;;
    *) echo "unknown mode: $mode" >&2; exit 2 ;;
    esac
    mkdir -p "$settings"
    printf '[Connection]\r\nCommunication=%s\r\nIP=127.0.0.1\r\nPort=5000\r\nProtocol=%s\r\nMode=%s\r\n[Window]\r\nLeft=0\r\nTop=0\r\nRight=%s\r\nBottom=%s\r\n' \
        "$comm" "$protocol" "$server" "$width" "$height" > "$settings/Ferrolink.ini"
    if [ "$mode" = bridge ] || [ "$mode" = bridge-dialog ]; then
        printf '[Bridge]\r\nOn=1\r\nCommunication=0\r\nIP=127.0.0.1\r\nPort=5001\r\nProtocol=0\r\nMode=0\r\nWhenOneEnds=1\r\n' >> "$settings/Ferrolink.ini"
    fi
    if [ "$mode" = bridge-serial ]; then
        printf '[Bridge]\r\nOn=1\r\nCommunication=1\r\nSerialPort=COM1\r\n' >> "$settings/Ferrolink.ini"
    fi
    if [ "$mode" = serial ]; then
        # A port made of a pseudo-terminal pair, as COM7, with a device
        # behind it that the script speaks for.
        ptys=$(mktemp -d)
        socat pty,raw,echo=0,link="$ptys/dev" pty,raw,echo=0,link="$ptys/peer" &
        peer=$!
        sleep 1
        "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM7 /d "$(readlink -f "$ptys/dev")" /f >/dev/null 2>&1
        wineserver -k 2>/dev/null || true
        wineserver -w
        printf '[Serial]\r\nPort=COM7\r\nBaud=115200\r\nDtrAtOpen=0\r\nRtsAtOpen=0\r\n' >> "$settings/Ferrolink.ini"
    fi
    # A desktop just the window's size keeps the client list's menu inside
    # the window: it opens upwards.
    desktop=$screen
    [ "$mode" != clients ] || desktop="${width}x${height}"
    shot="${width}x${height}"
    if [ "$mode" = automation ]; then
        cp "$root/doc/example-library.txt" "$settings/Library.txt"
        desktop="$((width + 560 * dpi / 96))x${height}"
        shot=$desktop
    fi
    "$wine" explorer "/desktop=shot,$desktop" "$build/Ferrolink.exe" >/dev/null 2>&1 &
    sleep 8
    if [ "$mode" = recording ]; then
        # A peer that reports readings and echoes what it is sent.
        talk=$(mktemp)
        printf '%s\n' 'cat &' 'for i in 1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17 18 19 20; do printf "T1=21.$i;T2=19.$i\r\n"; sleep 0.4; done' 'wait' >"$talk"
        socat TCP-LISTEN:5000,bind=127.0.0.1,reuseaddr EXEC:"sh $talk" &
        peer=$!
        sleep 1
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        at 249 586  # Record, then the file name
        xdotool type --delay 20 "Z:${work//\//\\}\\traffic.pcapng"
        xdotool key Return
        sleep 1.5
        at 685 58   # Connect
        at 380 660  # the send box
        xdotool type --delay 50 'READ?'
        at 811 626  # Send
        sleep 3
        at 97 91    # the Hex tab
        xdotool mousemove $((200 * dpi / 96)) $((140 * dpi / 96))
        sleep 1
    fi
    if [ "$mode" = serial ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        at 747 58   # Open, with DTR and RTS left off
        printf 'boot: waiting for a Break\r\n' > "$ptys/peer"
        sleep 1
        at 405 88   # Break
        printf 'monitor> ' > "$ptys/peer"
        sleep 1
        at 380 660  # the send box
        xdotool type --delay 50 'version'
        at 29 731   # CR
        at 811 626  # Send
        printf 'v2.4.1\r\nmonitor> ' > "$ptys/peer"
        sleep 1
        at 163 88   # Pulse DTR: a pseudo-terminal has no lines, and says so
        xdotool mousemove $((200 * dpi / 96)) $((300 * dpi / 96))
        sleep 1
    fi
    if [ "$mode" = clients ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click ${3:-1}; sleep 1.5; }
        at 685 58   # Connect: the server listens
        talk=$(mktemp)
        printf '%s\n' 'sleep 1; printf "HELLO FROM $1\r\n"; sleep 0.5; printf "READY\r\n"; sleep 60' >"$talk"
        peers=()
        for n in 1 2 3; do
            socat -u EXEC:"sh $talk unit-$n" TCP:127.0.0.1:5000 &
            peers+=($!)
            sleep 0.7
        done
        sleep 3
        at 380 600  # the send box
        xdotool type --delay 50 'STATUS?'
        at 810 560  # Send, to all
        sleep 1
        at 200 697                       # the first client
        xdotool keydown ctrl; at 200 723; xdotool keyup ctrl   # and the third
        xdotool mousemove $((200 * dpi / 96)) $((723 * dpi / 96)) click 3
        sleep 1.5
    fi
    if [ "$mode" = automation ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        at 685 58   # Connect: the server listens
        at 643 665  # Automation...
        at 1284 42   # the Responder tab
        at 1122 482  # Answer received messages
        talk=$(mktemp)
        printf '%s\n' 'for i in 1 2 3; do printf "\001\003\000\000\000\002\304\013"; sleep 0.7; done; printf "PING\r\n"; sleep 60' >"$talk"
        socat EXEC:"sh $talk" TCP:127.0.0.1:5000 &
        peer=$!
        sleep 4
        xdotool mousemove $((200 * dpi / 96)) $((140 * dpi / 96))
        sleep 1
    fi
    if [ "$mode" = bridge ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        # The device behind B answers each request; the client of A asks.
        device=$(mktemp)
        printf '%s\n' 'while IFS= read -r line; do printf "OK %s\n" "${line#GET }"; done' >"$device"
        socat TCP-LISTEN:5001,bind=127.0.0.1,reuseaddr EXEC:"sh $device" &
        peer=$!
        sleep 1
        at 685 58   # Connect: A listens, B connects to the device
        talk=$(mktemp)
        printf '%s\n' 'for t in T1 T2 T3 P1; do printf "GET $t\r\n"; sleep 0.8; done; sleep 60' >"$talk"
        socat EXEC:"sh $talk" TCP:127.0.0.1:5000 &
        sleep 5
        xdotool mousemove $((200 * dpi / 96)) $((300 * dpi / 96))
        sleep 1
    fi
    if [ "$mode" = bridge-dialog ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        at 878 58   # Bridge...
        sleep 1
    fi
    if [ "$mode" = options ]; then
        at() { xdotool mousemove $(($1 * dpi / 96)) $(($2 * dpi / 96)) click 1; sleep 1.5; }
        at 249 58   # TLS
        at 579 58   # Options...
        at 1027 336 # its local addresses, with their adapters
        sleep 1
    fi
    if [ "$mode" = framing ]; then
        # The log's menu, Framing, Delimiter...: the keys its items underline.
        xdotool mousemove $((400 * dpi / 96)) $((300 * dpi / 96)) click 3
        sleep 1.5
        xdotool key g
        sleep 1
        xdotool key d
        sleep 2
    fi
    # The virtual desktop fills the screen from its corner, and the window
    # sits at the desktop's corner: the picture is the window's rectangle.
    import -window root -crop "${shot}+0+0" +repage "$out/$mode$suffix.png"
    wineserver -k 2>/dev/null || true
    [ -z "${peer:-}" ] || { kill "$peer" 2>/dev/null || true; rm -f "${talk:-}"; peer=; }
    [ -z "${peers:-}" ] || { kill "${peers[@]}" 2>/dev/null || true; rm -f "$talk"; peers=; }
    if [ -n "${ptys:-}" ]; then
        "$wine" reg delete 'HKLM\Software\Wine\Ports' /v COM7 /f >/dev/null 2>&1 || true
        rm -rf "$ptys"
        ptys=
    fi
    sleep 1
    echo "$out/$mode$suffix.png"
done
