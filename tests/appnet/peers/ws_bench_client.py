#!/usr/bin/python3
"""Reference client for the receive benchmark over python3-websockets: receives <count> messages
and prints the seconds from connecting to the last message."""
import asyncio
import sys
import time

import websockets


async def main(url, count):
    start = time.perf_counter()
    async with websockets.connect(url, max_size=None, compression=None) as ws:
        for _ in range(count):
            await ws.recv()
        print(time.perf_counter() - start, flush=True)


asyncio.run(main(sys.argv[1], int(sys.argv[2])))
