#!/usr/bin/env python3
"""A delaying TCP relay, standing in for a real network on loopback.

    delay_relay.py LISTEN_PORT TARGET_PORT [--delay-ms 5] [--connect-ms 10]
                   [--max-seconds 900]

Every chunk read from either side is written to the other DELAY ms after it
arrived (order kept, so chunks in flight overlap as on a link), and each new
connection waits CONNECT ms (one round trip) before the relay connects on to
the target. Both ends are 127.0.0.1. The relay stops by itself after
MAX-SECONDS.
"""
import argparse
import asyncio
import socket


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()

    task = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
        await task
    except (ConnectionError, OSError):
        task.cancel()
        writer.close()  # the other direction hears of it too


async def serve(args):
    delay = args.delay_ms / 1000.0

    async def handle(client_reader, client_writer):
        client_writer.get_extra_info("socket").setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            await asyncio.sleep(args.connect_ms / 1000.0)
            origin_reader, origin_writer = await asyncio.open_connection("127.0.0.1", args.target)
            origin_writer.get_extra_info("socket").setsockopt(
                socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, origin_writer, delay),
                             pump(origin_reader, client_writer, delay),
                             return_exceptions=True)
        for w in (client_writer, origin_writer):
            w.close()

    server = await asyncio.start_server(handle, "127.0.0.1", args.listen, backlog=512)
    async with server:
        try:
            await asyncio.wait_for(server.serve_forever(), args.max_seconds)
        except asyncio.TimeoutError:
            pass


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("listen", type=int)
    parser.add_argument("target", type=int)
    parser.add_argument("--delay-ms", type=float, default=5.0)
    parser.add_argument("--connect-ms", type=float, default=10.0)
    parser.add_argument("--max-seconds", type=float, default=900.0)
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
