#!/usr/bin/python3
"""A TCP proxy on 127.0.0.1 that adds a round-trip delay, for the check benchmark.

Usage: latencyproxy.py RTT_MS UPSTREAM_PORT [UPSTREAM_PORT ...]

For each upstream port on 127.0.0.1 it listens on a free port and prints "LISTEN <upstream>
<port>" lines, then "READY". Every chunk is forwarded RTT/2 after it arrived, in each
direction, without the delays adding up across pipelined chunks. The upstream connection is
opened 1.5 RTT after the client's connect returns, so that the server's greeting reaches the
client 2 RTT after it began to connect, as over a real link (SYN, SYN-ACK, ACK, greeting).

When a connection ends it prints "TRIPS <n>": the round trips after the connect, that is how
many times the client waited for the server. Every run of server chunks delivered to the
client without a client chunk in between is one (the greeting is the first); a client that
sends while the server is still answering starts a new run, as a real wait would.
"""

import asyncio
import itertools
import os
import sys

# LATENCYPROXY_LOG=1 writes "<connection> <direction> <time> <bytes>" per chunk to stderr.
LOG = os.environ.get("LATENCYPROXY_LOG") == "1"
CONNECTIONS = itertools.count(1)


class Trips:
    """Counts the runs of server chunks between client chunks."""

    def __init__(self):
        self.count = 0
        self.in_run = False

    def client_sent(self):
        self.in_run = False

    def server_delivered(self):
        if not self.in_run:
            self.count += 1
            self.in_run = True


async def pump(reader, writer, half, label, on_received=None, on_delivered=None):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            if LOG:
                print(label, "%.4f" % loop.time(), len(data), file=sys.stderr, flush=True)
            if data and on_received:
                on_received()
            queue.put_nowait((loop.time() + half, data))
            if not data:
                return

    async def send():
        while True:
            due, data = await queue.get()
            delay = due - loop.time()
            if delay > 0:
                await asyncio.sleep(delay)
            if not data:
                try:
                    writer.write_eof()
                except (OSError, RuntimeError):
                    pass
                return
            writer.write(data)
            if on_delivered:
                on_delivered()
            await writer.drain()

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, OSError):
        pass
    finally:
        writer.close()


def handler(upstream, rtt):
    half = rtt / 2.0

    async def handle(client_reader, client_writer):
        number = next(CONNECTIONS)
        if LOG:
            print("%d accept %.4f" % (number, asyncio.get_running_loop().time()), file=sys.stderr)
        await asyncio.sleep(1.5 * rtt)
        try:
            up_reader, up_writer = await asyncio.open_connection("127.0.0.1", upstream)
        except OSError:
            client_writer.close()
            return
        trips = Trips()
        await asyncio.gather(
            pump(client_reader, up_writer, half, "%d >" % number, on_received=trips.client_sent),
            pump(up_reader, client_writer, half, "%d <" % number,
                 on_delivered=trips.server_delivered))
        print("TRIPS", trips.count, flush=True)

    return handle


async def main():
    rtt = float(sys.argv[1]) / 1000.0
    servers = []
    for upstream in sys.argv[2:]:
        server = await asyncio.start_server(handler(int(upstream), rtt), "127.0.0.1", 0)
        servers.append(server)
        print("LISTEN", upstream, server.sockets[0].getsockname()[1], flush=True)
    print("READY", flush=True)
    await asyncio.gather(*(s.serve_forever() for s in servers))


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        pass
