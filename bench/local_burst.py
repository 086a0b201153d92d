#!/usr/bin/env python3
"""Parts of bench/local_burst.sh, all on 127.0.0.1 and bounded in time.

  local_burst.py dns PORT SECONDS
      answers every A query with 127.0.0.1, every other query with no data
  local_burst.py load PROXY_PORT ORIGIN_PORT NEW_NAMES SECONDS
      one kept-alive client asks for known.test again and again while a
      burst of requests names NEW_NAMES hosts never seen before; prints the
      known host's latencies while the burst runs
"""
import asyncio
import socket
import struct
import sys
import time


def dns(port, seconds):
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind(("127.0.0.1", port))
    sock.settimeout(0.5)
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            query, peer = sock.recvfrom(512)
        except socket.timeout:
            continue
        if len(query) < 12:
            continue
        end = 12
        while end < len(query) and query[end] != 0:
            end += query[end] + 1
        question = query[12:end + 5]
        qtype = struct.unpack("!H", query[end + 1:end + 3])[0] if end + 3 <= len(query) else 0
        answers = 1 if qtype == 1 else 0
        reply = query[:2] + struct.pack("!HHHHH", 0x8180, 1, answers, 0, 0) + question
        if answers:
            reply += struct.pack("!HHHIH", 0xC00C, 1, 1, 60, 4) + socket.inet_aton("127.0.0.1")
        sock.sendto(reply, peer)


async def get(reader, writer, host, origin_port):
    writer.write(f"GET http://{host}:{origin_port}/1k HTTP/1.1\r\n"
                 f"Host: {host}:{origin_port}\r\n\r\n".encode())
    header = await reader.readuntil(b"\r\n\r\n")
    length = 0
    for line in header.split(b"\r\n"):
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    await reader.readexactly(length)


async def load(proxy_port, origin_port, names, seconds):
    deadline = time.monotonic() + seconds
    reader, writer = await asyncio.open_connection("127.0.0.1", proxy_port)
    await get(reader, writer, "known.test", origin_port)  # filed before the burst
    done = asyncio.Event()
    latencies = []

    async def known():
        while not done.is_set() and time.monotonic() < deadline:
            start = time.monotonic()
            await get(reader, writer, "known.test", origin_port)
            latencies.append(time.monotonic() - start)

    async def one_new(i):
        r, w = await asyncio.open_connection("127.0.0.1", proxy_port)
        try:
            await asyncio.wait_for(get(r, w, f"new{i}.test", origin_port), 30)
        finally:
            w.close()

    async def burst():
        limit = asyncio.Semaphore(50)

        async def bounded(i):
            async with limit:
                await one_new(i)
        await asyncio.gather(*(bounded(i) for i in range(names)), return_exceptions=True)
        done.set()

    started = time.monotonic()
    await asyncio.wait_for(asyncio.gather(known(), burst()), seconds)
    took = time.monotonic() - started
    writer.close()
    latencies.sort()
    p = lambda q: latencies[min(len(latencies) - 1, int(q * len(latencies)))] * 1000
    print(f"BURST names={names} seconds={took:.2f} known_requests={len(latencies)} "
          f"p50_ms={p(0.5):.2f} p99_ms={p(0.99):.2f} max_ms={latencies[-1] * 1000:.2f}")


def main(argv):
    if len(argv) == 4 and argv[1] == "dns":
        dns(int(argv[2]), float(argv[3]))
    elif len(argv) == 6 and argv[1] == "load":
        asyncio.run(load(int(argv[2]), int(argv[3]), int(argv[4]), float(argv[5])))
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
