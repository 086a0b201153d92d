#!/usr/bin/env python3
"""Loopback peers for bench/soak.sh.

  origin PORT                  an origin that also takes uploads and resets
  chaos PROXY ORIGIN SECONDS   odd clients through the proxy until SECONDS pass
  report SAMPLES FROM TO       the proxy's RSS and descriptors: slopes between FROM and TO
                               seconds, and the first and last samples

Everything talks to 127.0.0.1 only, and every loop ends by itself.
"""
import asyncio
import json
import random
import socket
import struct
import sys
import time

HOST = "127.0.0.1"
BODY = b"x" * 1024


def reset(writer):
    """Closes with a reset instead of an orderly end."""
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
    writer.transport.abort()


async def read_header(reader):
    header = await reader.readuntil(b"\r\n\r\n")
    length = 0
    for line in header.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value.strip())
    return header, length


# ---------------------------------------------------------------- origin
async def serve(reader, writer):
    try:
        while True:
            header, length = await read_header(reader)
            path = header.split(b" ", 2)[1]
            if path.endswith(b"/reset"):
                reset(writer)
                return
            if length:
                await reader.readexactly(length)
            if path.endswith(b"/resetmid"):
                writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + BODY)
                await writer.drain()
                reset(writer)
                return
            writer.write(b"HTTP/1.1 200 OK\r\nContent-Length: %d\r\n\r\n" % len(BODY) + BODY)
            await writer.drain()
    except (asyncio.IncompleteReadError, ConnectionError, asyncio.LimitOverrunError, ValueError):
        pass
    finally:
        writer.transport.abort()


async def origin(port):
    server = await asyncio.start_server(serve, HOST, port, backlog=1024)
    async with server:
        await server.serve_forever()


# ---------------------------------------------------------------- chaos clients
class Counts(dict):
    def add(self, key, n=1):
        self[key] = self.get(key, 0) + n


async def exchange(reader, writer, request):
    writer.write(request)
    await writer.drain()
    _, length = await read_header(reader)
    await reader.readexactly(length)


async def tunnel(proxy, origin_port, counts):
    reader, writer = await asyncio.open_connection(HOST, proxy)
    try:
        writer.write(b"CONNECT %s:%d HTTP/1.1\r\nHost: %s:%d\r\n\r\n"
                     % (HOST.encode(), origin_port, HOST.encode(), origin_port))
        await writer.drain()
        answer = await reader.readuntil(b"\r\n\r\n")
        if b" 200" not in answer.split(b"\r\n", 1)[0]:
            raise ConnectionError("tunnel refused")
        for _ in range(3):
            await exchange(reader, writer, b"GET /t HTTP/1.1\r\nHost: o\r\n\r\n")
            counts.add("requests")
        counts.add("tunnels")
    finally:
        writer.transport.abort()


async def upload(proxy, origin_port, counts, rng):
    reader, writer = await asyncio.open_connection(HOST, proxy)
    try:
        for _ in range(2):
            size = rng.choice((100, 65536, 1 << 20))
            await exchange(reader, writer,
                           b"POST http://%s:%d/upload HTTP/1.1\r\nHost: %s:%d\r\n"
                           b"Content-Length: %d\r\n\r\n" % (HOST.encode(), origin_port, HOST.encode(),
                                                            origin_port, size) + b"u" * size)
            counts.add("requests")
            counts.add("uploads")
    finally:
        writer.close()


async def vanish(proxy, origin_port, counts, rng):
    reader, writer = await asyncio.open_connection(HOST, proxy)
    request = (b"POST http://%s:%d/upload HTTP/1.1\r\nHost: o\r\nContent-Length: 1000000\r\n\r\n"
               % (HOST.encode(), origin_port) + b"v" * rng.randrange(0, 200000))
    writer.write(request[:rng.randrange(1, len(request))])
    await writer.drain()
    await asyncio.sleep(rng.random() * 0.05)
    if rng.random() < 0.5:
        reset(writer)
    else:
        writer.close()
    counts.add("vanished")


async def origin_resets(proxy, origin_port, counts, rng):
    reader, writer = await asyncio.open_connection(HOST, proxy)
    path = rng.choice((b"/reset", b"/resetmid"))
    try:
        writer.write(b"GET http://%s:%d%s HTTP/1.1\r\nHost: o\r\n\r\n"
                     % (HOST.encode(), origin_port, path))
        await writer.drain()
        # The proxy leaves the client open after an origin's reset; the client
        # gives up after a while, as a browser would.
        async def drain():
            while await reader.read(65536):
                pass
        try:
            await asyncio.wait_for(drain(), 1)
        except (ConnectionResetError, asyncio.TimeoutError):
            pass
        counts.add("origin_resets")
    finally:
        writer.transport.abort()


async def worker(seed, proxy, origin_port, deadline, counts):
    rng = random.Random(seed)
    kinds = (tunnel, upload, vanish, origin_resets)
    while time.monotonic() < deadline:
        kind = rng.choice(kinds)
        try:
            args = (proxy, origin_port, counts) if kind is tunnel else (proxy, origin_port, counts, rng)
            await asyncio.wait_for(kind(*args), 10)
        except (OSError, asyncio.TimeoutError, asyncio.IncompleteReadError,
                asyncio.LimitOverrunError, ValueError):
            counts.add("failed_" + kind.__name__)


async def chaos(proxy, origin_port, seconds, workers=16):
    counts = Counts()
    deadline = time.monotonic() + seconds
    await asyncio.gather(*(worker(i, proxy, origin_port, deadline, counts) for i in range(workers)))
    print(json.dumps(counts, sort_keys=True))


# ---------------------------------------------------------------- report
def slope(points):
    """Least-squares slope of (t, v) pairs, per second."""
    n = len(points)
    if n < 2:
        return 0.0
    mt = sum(t for t, _ in points) / n
    mv = sum(v for _, v in points) / n
    den = sum((t - mt) ** 2 for t, _ in points)
    return sum((t - mt) * (v - mv) for t, v in points) / den if den else 0.0


def report(samples_path, warmup, load_end):
    rows = []
    with open(samples_path) as f:
        for line in f:
            ms, rss, fds = line.split()
            rows.append((int(ms) / 1000, int(rss), int(fds)))
    after = [r for r in rows if warmup <= r[0] <= load_end]
    if len(after) < 2:
        print("too few samples after the warm-up")
        return 1
    rss = [(t, r) for t, r, _ in after]
    fds = [(t, f) for t, _, f in after]
    span = after[-1][0] - after[0][0]
    print(f"samples: {len(rows)}; under load after the {warmup:.0f} s warm-up: {len(after)} over {span:.0f} s")
    print(f"RSS KiB: start {rows[0][1]}, after warm-up {after[0][1]}, min {min(r for _, r in rss)}, "
          f"max {max(r for _, r in rss)}, end {after[-1][1]}, slope {slope(rss) * 60:+.1f} KiB/min")
    print(f"descriptors: start {rows[0][2]}, after warm-up {after[0][2]}, min {min(f for _, f in fds)}, "
          f"max {max(f for _, f in fds)}, end {after[-1][2]}, slope {slope(fds) * 60:+.2f} /min")
    print(f"idle before the load: {rows[0][1]} KiB, {rows[0][2]} descriptors; "
          f"idle after it: {rows[-1][1]} KiB, {rows[-1][2]} descriptors")
    return 0


def main(argv):
    if len(argv) >= 3 and argv[1] == "origin":
        asyncio.run(origin(int(argv[2])))
    elif len(argv) >= 5 and argv[1] == "chaos":
        asyncio.run(chaos(int(argv[2]), int(argv[3]), float(argv[4])))
    elif len(argv) >= 5 and argv[1] == "report":
        return report(argv[2], float(argv[3]), float(argv[4]))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
