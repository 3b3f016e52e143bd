#!/usr/bin/python3
"""WebSocket test peer over Debian's python3-websockets.

Prints the port once listening, then one line per event: "OPEN <path>", "RECV <text>",
"RECVB <hex>", "CLOSED <code> <reason>". Paths:
  /echo                   echo every message (text as text, bytes as bytes)
  /send/<count>/<size>    send <count> text messages of <size> bytes, then wait
  /close/<code>/<reason>  close at once with the code and reason
  /ws/<subjects>          push channel: greets with "hello <subjects>", then a binary message,
                          then "echo:<text>" for every text received
Options: --tls CERT KEY serves wss with that certificate chain and key.
"""
import asyncio
import ssl
import sys

import websockets


def out(line):
    print(line, flush=True)


async def handler(ws, path):
    out("OPEN " + path)
    try:
        if path == "/echo":
            async for message in ws:
                await ws.send(message)
        elif path.startswith("/send/"):
            _, _, count, size = path.split("/")
            payload = "x" * int(size)
            for _ in range(int(count)):
                await ws.send(payload)
            await ws.wait_closed()
        elif path.startswith("/close/"):
            _, _, code, reason = path.split("/", 3)
            await ws.close(int(code), reason)
        elif path.startswith("/ws/"):
            await ws.send("hello " + path[4:])
            await ws.send(b"\x00\x01binary")
            async for message in ws:
                if isinstance(message, str):
                    out("RECV " + message)
                    await ws.send("echo:" + message)
                else:
                    out("RECVB " + message.hex())
        else:
            await ws.close(1008, "unknown path")
    except websockets.ConnectionClosed:
        pass
    out("CLOSED %s %s" % (ws.close_code, ws.close_reason or ""))


async def main():
    context = None
    if len(sys.argv) >= 4 and sys.argv[1] == "--tls":
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(sys.argv[2], sys.argv[3])
    async with websockets.serve(handler, "127.0.0.1", 0, ssl=context, max_size=None, compression=None) as server:
        out(str(server.sockets[0].getsockname()[1]))
        await asyncio.Future()


asyncio.run(main())
