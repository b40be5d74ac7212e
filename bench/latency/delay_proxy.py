"""A TCP proxy on loopback that delays each direction, as a distant server would.

Listens on 127.0.0.1 (a free port, printed as the first line of standard
output) and forwards every connection to --to HOST:PORT. Bytes read in either
direction are written on after half of --rtt-ms, in the
order they came; a read and its write are one chunk, so what the sender wrote
in one go leaves in one go. Both sockets have TCP_NODELAY, so the proxy adds
no wait of its own beyond the delay; a chunk leaves within a few
microseconds of its time. It stops after --lifetime seconds or
when its standard input closes, whichever comes first.

With --trace FILE every chunk is written there as one line, when it was
read: the seconds since the first connection, the direction (">" towards the
server, "<" back), the length and its first bytes. A round trip lost to a
second write, a flush or a wait shows there as a gap.
"""

import argparse
import asyncio
import socket
import sys
import threading
import time

# How long before a chunk is due the proxy wakes up for it.
EARLY = 0.002


class Tracer:
    def __init__(self, path):
        self.file = open(path, "w") if path else None
        self.start = None

    def chunk(self, direction, data):
        if not self.file:
            return
        now = time.monotonic()
        if self.start is None:
            self.start = now
        head = data[:60].decode("latin-1").encode("unicode_escape").decode("ascii")
        self.file.write(f"{(now - self.start) * 1000:10.2f} {direction} {len(data):6d} {head}\n")

    def close(self):
        if self.file:
            self.file.close()


def no_delay(writer):
    sock = writer.get_extra_info("socket")
    if sock is not None:
        sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)


async def pump(reader, writer, delay, tracer, direction):
    """Copies reader to writer, each chunk `delay` seconds after it was read,
    in order: a queue of (due time, bytes) drained by one writer task."""
    queue = asyncio.Queue()

    async def drain():
        while True:
            due, data = await queue.get()
            if data is None:
                break
            # The event loop wakes up to a millisecond late (its timeout is
            # rounded up to whole milliseconds): it is woken a little early
            # and the rest is waited out here, so that the delay is the one
            # asked for and not the proxy's own share on top.
            wait = due - time.monotonic()
            if wait > EARLY:
                await asyncio.sleep(wait - EARLY)
            while time.monotonic() < due:
                pass
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()

    sender = asyncio.create_task(drain())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            tracer.chunk(direction, data)
            queue.put_nowait((time.monotonic() + delay, data))
    except ConnectionError:
        pass
    queue.put_nowait((0, None))
    try:
        await sender
    except ConnectionError:
        pass


async def serve(options):
    host, port = options.to.rsplit(":", 1)
    delay = options.rtt_ms / 2000
    tracer = Tracer(options.trace)

    async def connection(client_reader, client_writer):
        no_delay(client_writer)
        try:
            server_reader, server_writer = await asyncio.open_connection(host, int(port))
        except OSError:
            client_writer.close()
            return
        no_delay(server_writer)
        await asyncio.gather(pump(client_reader, server_writer, delay, tracer, ">"),
                             pump(server_reader, client_writer, delay, tracer, "<"))
        for writer in (client_writer, server_writer):
            writer.close()

    loop = asyncio.get_running_loop()
    server = await asyncio.start_server(connection, "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    stdin_closed = loop.create_future()

    def wait_for_stdin_end():
        while sys.stdin.buffer.read1(4096):
            pass
        loop.call_soon_threadsafe(stdin_closed.set_result, None)

    threading.Thread(target=wait_for_stdin_end, daemon=True).start()
    async with server:
        try:
            await asyncio.wait_for(stdin_closed, options.lifetime)
        except asyncio.TimeoutError:
            pass
    tracer.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--to", required=True, metavar="HOST:PORT")
    parser.add_argument("--rtt-ms", type=float, default=20.0,
                        help="the round trip; each direction is delayed by half of it")
    parser.add_argument("--lifetime", type=float, default=600.0, metavar="SECONDS")
    parser.add_argument("--trace", metavar="FILE")
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    main()
