#!/usr/bin/python3
"""Push server over Debian's python3-websockets.

Prints the port once listening, then one line per event: "OPEN <path>", "PUSHED <count>".
Paths:
  /ws/<subjects>   a push subscriber: gets every text pushed from then on
  /push            every text received here is sent to every subscriber, in order
"""
import asyncio
import sys

import websockets

subscribers = []


def out(line):
    print(line, flush=True)


async def handler(ws, path):
    out("OPEN " + path)
    try:
        if path.startswith("/ws/"):
            subscribers.append(ws)
            await ws.wait_closed()
        elif path == "/push":
            count = 0
            async for message in ws:
                for subscriber in list(subscribers):
                    try:
                        await subscriber.send(message)
                    except websockets.ConnectionClosed:
                        pass
                count += 1
                out("PUSHED %d" % count)
        else:
            await ws.close(1008, "unknown path")
    except websockets.ConnectionClosed:
        pass
    finally:
        if ws in subscribers:
            subscribers.remove(ws)


async def main():
    async with websockets.serve(handler, "127.0.0.1", 0, max_size=None, compression=None) as server:
        out(str(server.sockets[0].getsockname()[1]))
        await asyncio.Future()


asyncio.run(main())
