#!/usr/bin/env python3
"""Modbus/TCP masters for the responder figures, as native Linux sockets, so
that the peers' own load does not go through Wine: each of CLIENTS connects
to 127.0.0.1:PORT (trying again until the server is up), then sends a read
every PERIOD ms, waits for its reply and checks its transaction id, REQUESTS
times. Prints what it counted."""
import selectors
import socket
import sys
import time

port, clients, requests, period = (int(a) for a in sys.argv[1:5])
deadline = time.monotonic() + 120
socks = []
while len(socks) < clients and time.monotonic() < deadline:
    try:
        socks.append(socket.create_connection(("127.0.0.1", port), timeout=1))
    except OSError:
        time.sleep(0.2)
if len(socks) < clients:
    print("pollers: could not connect", flush=True)
    sys.exit(1)
time.sleep(2)  # the window lists them all
sel = selectors.DefaultSelector()
state = []
start = time.monotonic()
for c, s in enumerate(socks):
    s.setblocking(False)
    sel.register(s, selectors.EVENT_READ, c)
    # staggered, as masters on clocks of their own
    state.append({"sent": 0, "got": b"", "due": start + c * period / 1000 / clients, "waiting": None})
wrong = missing = answered = 0
while time.monotonic() < deadline:
    now = time.monotonic()
    busy = False
    for c, s in enumerate(socks):
        st = state[c]
        if st["waiting"] is None and st["sent"] < requests and now >= st["due"]:
            tid = (c * requests + st["sent"]) & 0xFFFF
            unit = 1 + (c + st["sent"]) % 20
            s.send(bytes([tid >> 8, tid & 0xFF, 0, 0, 0, 6, unit, 3, 0, 0, 0, 1]))
            st["waiting"] = (tid, unit)
            st["sent"] += 1
            st["due"] = start + (st["sent"] * period + c * period / clients) / 1000
        busy = busy or st["waiting"] is not None or st["sent"] < requests
    if not busy:
        break
    for key, _ in sel.select(timeout=0.001):
        c = key.data
        st = state[c]
        st["got"] += key.fileobj.recv(4096)
        while len(st["got"]) >= 11 and st["waiting"] is not None:
            reply, st["got"] = st["got"][:11], st["got"][11:]
            tid, unit = st["waiting"]
            if reply != bytes([tid >> 8, tid & 0xFF, 0, 0, 0, 5, unit, 3, 2, 0, 42]):
                wrong += 1
            answered += 1
            st["waiting"] = None
time.sleep(0.5)
doubled = 0
for s in socks:
    try:
        if s.recv(4096):
            doubled += 1
    except BlockingIOError:
        pass
    s.close()
missing = clients * requests - answered
print(f"pollers: {answered} answered, {wrong} wrong, {missing} missing, {doubled} doubled, "
      f"{time.monotonic() - start:.1f} s", flush=True)
