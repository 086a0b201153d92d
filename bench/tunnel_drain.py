#!/usr/bin/env python3
"""Tunnel drain: an origin sends SIZE bytes, half-closes and keeps reading;
a client on a local port tunnel reads at about 4 MiB/s while it sends one
byte every 200 ms, so the origin's end reaches the tunnel long before the
client has read everything.
Prints one line per run: bytes received, how the stream ended, and how many
of the client's bytes reached the origin.

  tunnel_drain.py TUNNEL_PORT ORIGIN_PORT [SIZE] [RUNS]

Everything is on 127.0.0.1; each run stops by itself after 60 s."""

import select
import socket
import sys
import threading
import time

TRICKLE = 0.2
LIMIT = 60.0
READ_RATE = 4 << 20  # bytes per second


def origin(listener, size, results):
    conn, _ = listener.accept()
    conn.settimeout(LIMIT)
    block = bytes(range(256)) * 256
    sent = 0
    try:
        while sent < size:
            sent += conn.send(block[: min(len(block), size - sent)])
        conn.shutdown(socket.SHUT_WR)
        got = 0
        while True:
            data = conn.recv(65536)
            if not data:
                break
            got += len(data)
        results["origin_got"] = got
    except OSError as e:
        results["origin_got"] = f"{type(e).__name__}"
    finally:
        conn.close()


def client(tunnel_port, size):
    s = socket.create_connection(("127.0.0.1", tunnel_port), timeout=LIMIT)
    s.setblocking(False)
    received, trickled, end = 0, 0, "time limit"
    start = next_byte = time.monotonic()
    while time.monotonic() - start < LIMIT:
        now = time.monotonic()
        if now >= next_byte:
            try:
                s.send(b"t")
                trickled += 1
            except OSError as e:
                end = type(e).__name__
                break
            next_byte = now + TRICKLE
        if received >= READ_RATE * (time.monotonic() - start):
            time.sleep(0.01)  # ahead of the pace
            continue
        ready, _, _ = select.select([s], [], [], max(0.0, next_byte - time.monotonic()))
        if not ready:
            continue
        try:
            data = s.recv(64 << 10)
        except OSError as e:
            end = type(e).__name__
            break
        if not data:
            end = "clean end"
            break
        received += len(data)
    s.close()
    return received, end, trickled


def main():
    tunnel_port, origin_port = int(sys.argv[1]), int(sys.argv[2])
    size = int(sys.argv[3]) if len(sys.argv) > 3 else 16 << 20
    runs = int(sys.argv[4]) if len(sys.argv) > 4 else 3
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", origin_port))
    listener.listen(8)
    listener.settimeout(LIMIT)
    for run in range(1, runs + 1):
        results = {}
        t = threading.Thread(target=origin, args=(listener, size, results))
        t.start()
        received, end, trickled = client(tunnel_port, size)
        t.join(LIMIT)
        print(f"run {run}: received {received} of {size} bytes, {end}; "
              f"origin got {results.get('origin_got', '?')} of the {trickled} bytes the client sent")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
