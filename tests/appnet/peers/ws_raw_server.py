#!/usr/bin/python3
"""A WebSocket peer over raw sockets that sends what a well-behaved server never would.

GET /case/<name> answers the opening handshake as the case says and then writes the case's
bytes. After that it reads the client's frames and prints "<name> <opcode> <payload hex>" for each
(unmasked; "<name> UNMASKED" for a frame without a mask), and "<name> EOF" at the end.
Two cases go their own way:
  /case/pingflood?n=N  N pings (the last with the payload "last"), then the text "after"; it counts
                       the pongs and prints "pingflood lastpong <count>" when the pong of "last" comes
  /case/noread         reads nothing after the handshake, until the client goes
  /case/flood?n=N&size=S[&window=W][&frag=F]
                       N text messages of S bytes (at least 7), each starting with its number
                       ("0000000", "0000001", ...), then the text "end"; prints "flood sent" once
                       all are written. Each message is one frame, or with frag fragments of F
                       bytes (the last one shorter). With a window it never runs more than W messages ahead of
                       the last count the client sent back as text (a well-behaved server). The
                       client's frames are read meanwhile: "flood close <payload hex>" for its
                       close, which is answered with 1000 once everything is sent, and
                       "flood pongs <count>" when the client goes
  /case/pings?n=N&size=S
                       N pings of S bytes, then the text "end", read and closed the same way
Prints the port first.
"""
import base64
import hashlib
import socket
import struct
import sys
import threading
import time

GUID = b"258EAFA5-E914-47DA-95CA-C5AB0DC85B11"
_say_lock = threading.Lock()


def say(line):
    """One whole line on stdout: connections run on threads of their own, and print() writes the
    text and its newline apart, so two threads' lines could run into one."""
    with _say_lock:
        sys.stdout.write(line + "\n")
        sys.stdout.flush()


def frame(opcode, payload=b"", fin=True, rsv=0, mask=None, length=None):
    n = len(payload) if length is None else length
    head = bytes([(0x80 if fin else 0) | rsv | opcode])
    mbit = 0x80 if mask else 0
    if n <= 125:
        head += bytes([mbit | n])
    elif n <= 0xFFFF:
        head += bytes([mbit | 126]) + struct.pack(">H", n)
    else:
        head += bytes([mbit | 127]) + struct.pack(">Q", n)
    if mask:
        head += mask
        payload = bytes(b ^ mask[i % 4] for i, b in enumerate(payload))
    return head + payload


def close(code, reason=b""):
    return frame(8, struct.pack(">H", code) + reason)


# Whole frames, a fragmented message with a ping between its fragments, an empty text and one
# with a 16-bit length, then a close.
MIXED = (frame(1, b"a") + frame(1, b"b", fin=False) + frame(9, b"p") + frame(0, b"c") + frame(2, b"\x01")
         + frame(1, "\u00e9".encode()) + frame(1, b"") + frame(1, b"z" * 300) + close(1000, b"end"))


# name: (handshake kind, bytes after the handshake)
CASES = {
    "ok": ("ok", frame(1, b"fine")),
    "samesegment": ("ok", frame(1, b"first") + frame(2, b"\x01\x02") + close(1000, b"done")),
    "dribble": ("dribble", frame(1, b"slow")),
    "status403": ("403", b""),
    "badaccept": ("badaccept", b""),
    "noaccept": ("noaccept", b""),
    "protocol": ("protocol", b""),
    "garbage": ("garbage", b""),
    "rsv": ("ok", frame(1, b"x", rsv=0x40)),
    "masked": ("ok", frame(1, b"abc", mask=b"\x01\x02\x03\x04")),
    "continuation": ("ok", frame(0, b"x")),
    "newdata": ("ok", frame(1, b"a", fin=False) + frame(1, b"b")),
    "fragping": ("ok", frame(9, b"p", fin=False)),
    "bigping": ("ok", frame(9, b"p" * 126)),
    "ping125": ("ok", frame(9, b"p" * 125) + frame(1, b"after")),
    "opcode3": ("ok", frame(3, b"x")),
    "opcode11": ("ok", frame(11, b"")),
    "badutf8": ("ok", frame(1, b"ok\xff")),
    "badutf8split": ("ok", frame(1, b"\xe2\x82", fin=False) + frame(0, b"\x41")),
    "truncatedutf8": ("ok", frame(1, b"a\xe2\x82")),
    "surrogate": ("ok", frame(1, b"\xed\xa0\x80")),
    "close1byte": ("ok", frame(8, b"\x03")),
    "close1005": ("ok", close(1005)),
    "close999": ("ok", close(999)),
    "closebadreason": ("ok", close(1000, b"\xff")),
    "closeempty": ("ok", frame(8, b"")),
    "close4000": ("ok", close(4000, b"bye")),
    "huge": ("ok", frame(2, b"", length=1 << 40)),
    "toolong": ("ok", frame(1, b"y" * 2000)),
    "silent": ("ok", frame(1, b"only")),
    "eof": ("ok", b""),
    "hang": ("hang", b""),
    "headers": ("headers", frame(1, b"seen")),
    "mixed": ("ok", MIXED),
    "mixeddribble": ("dribbleframes", MIXED),
    "badutf8after": ("ok", frame(1, b"ok") + frame(1, b"\xc3\x28") + frame(1, b"never")),
    "toolongafter": ("ok", frame(1, b"ok") + frame(1, b"y" * 2000) + frame(1, b"never")),
    "afterclose": ("ok", close(1000, b"x") + frame(1, b"never")),
    "pingflood": ("ok", b""),
    "noread": ("ok", b""),
    "flood": ("ok", b""),
    "pings": ("ok", b""),
}


def frames(conn):
    """(opcode, payload unmasked, whether it was masked) of each frame the client sends, until the
    connection ends."""
    data = b""
    pos = 0
    while True:
        while len(data) - pos >= 2:
            b1 = data[pos + 1]
            n = b1 & 0x7F
            at = pos + 2
            if n == 126:
                if len(data) < at + 2:
                    break
                n = struct.unpack(">H", data[at:at + 2])[0]
                at += 2
            elif n == 127:
                if len(data) < at + 8:
                    break
                n = struct.unpack(">Q", data[at:at + 8])[0]
                at += 8
            masked = b1 & 0x80
            key = b""
            if masked:
                if len(data) < at + 4:
                    break
                key = data[at:at + 4]
                at += 4
            if len(data) < at + n:
                break
            payload = data[at:at + n]
            if masked:
                payload = bytes(b ^ key[i % 4] for i, b in enumerate(payload))
            opcode = data[pos] & 0x0F
            pos = at + n
            yield opcode, payload, bool(masked)
        chunk = conn.recv(65536)
        if not chunk:
            return
        data = data[pos:] + chunk
        pos = 0


def ping_flood(conn, answer, count):
    conn.sendall(answer + frame(9, b"p") * (count - 1) + frame(9, b"last") + frame(1, b"after"))
    pongs = 0
    for opcode, payload, _ in frames(conn):
        if opcode == 10:
            pongs += 1
            if payload == b"last":
                say("pingflood lastpong %d" % pongs)
        elif opcode == 8:
            return


def flood(conn, answer, name, count, size, window, frag):
    """The /case/flood and /case/pings writer; the client's frames are read on another thread."""
    state = {"acked": 0, "closed": False, "ended": False}
    changed = threading.Condition()

    def reader():
        pongs = 0
        try:
            for opcode, payload, _ in frames(conn):
                with changed:
                    if opcode == 10:
                        pongs += 1
                    elif opcode == 1:
                        state["acked"] = int(payload)
                    elif opcode == 8:
                        say("%s close %s" % (name, payload.hex()))
                        state["closed"] = True
                    changed.notify_all()
        except OSError:
            pass
        say("%s pongs %d" % (name, pongs))
        with changed:
            state["ended"] = True
            changed.notify_all()

    threading.Thread(target=reader, daemon=True).start()
    conn.sendall(answer)
    ping = frame(9, b"p" * size)
    head = frame(1, b"x" * size)[:-size]
    pad = b"x" * (size - 7)

    def message(i):
        if not frag or frag >= size:
            return head + b"%07d" % i + pad
        payload = b"%07d" % i + pad
        last = (size - 1) // frag
        return b"".join(frame(0 if k else 1, payload[k * frag:(k + 1) * frag], fin=k == last) for k in range(last + 1))

    sent = 0
    while sent < count:
        room = 1000
        if window:
            with changed:
                changed.wait_for(lambda: sent - state["acked"] < window or state["ended"])
                if state["ended"]:
                    return
                room = window - (sent - state["acked"])
        n = min(room, 1000, count - sent, max(1, (1 << 20) // size))
        if name == "pings":
            conn.sendall(ping * n)
        else:
            conn.sendall(b"".join(message(i) for i in range(sent, sent + n)))
        sent += n
    conn.sendall(frame(1, b"end"))
    say("%s sent" % name)
    with changed:
        changed.wait_for(lambda: state["closed"] or state["ended"], timeout=120)
        if state["closed"]:
            conn.sendall(close(1000))
        changed.wait_for(lambda: state["ended"], timeout=10)


def read_frames(conn, name):
    for opcode, payload, masked in frames(conn):
        if masked:
            say("%s %d %s" % (name, opcode, payload.hex()))
        else:
            say("%s UNMASKED" % name)
        if opcode == 8:
            break
    say("%s EOF" % name)


def serve(conn):
    try:
        request = b""
        while b"\r\n\r\n" not in request:
            chunk = conn.recv(4096)
            if not chunk:
                return
            request += chunk
        lines = request.decode("latin-1").split("\r\n")
        path = lines[0].split(" ")[1]
        name = path.split("?")[0].rsplit("/", 1)[-1]
        query = dict(p.split("=", 1) for p in path.partition("?")[2].split("&") if "=" in p)
        key = ""
        for line in lines[1:]:
            if line.lower().startswith("sec-websocket-key:"):
                key = line.split(":", 1)[1].strip()
        accept = base64.b64encode(hashlib.sha1(key.encode() + GUID).digest()).decode()
        kind, after = CASES.get(name, ("403", b""))
        ok = "HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
        if kind == "403":
            conn.sendall(b"HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n")
            return
        if kind == "badaccept":
            conn.sendall((ok + "Sec-WebSocket-Accept: " + accept[::-1] + "\r\n\r\n").encode())
            return
        if kind == "noaccept":
            conn.sendall((ok + "\r\n").encode())
            return
        if kind == "protocol":
            conn.sendall((ok + "Sec-WebSocket-Accept: " + accept + "\r\nSec-WebSocket-Protocol: chat\r\n\r\n").encode())
            return
        if kind == "headers":
            for line in lines[:-2]:
                say("headers> " + line)
            say("headers> END")
            conn.sendall((ok + "Sec-WebSocket-Accept: " + accept + "\r\nSec-WebSocket-Protocol: superchat\r\n\r\n").encode() + after)
            read_frames(conn, name)
            return
        if kind == "hang":
            conn.recv(1)
            return
        if kind == "garbage":
            conn.sendall(b"SSH-2.0-nothing here\r\n\r\n")
            return
        answer = (ok + "Sec-WebSocket-Accept: " + accept + "\r\n\r\n").encode()
        if name == "pingflood":
            ping_flood(conn, answer, int(query.get("n", "1000")))
            return
        if name in ("flood", "pings"):
            flood(conn, answer, name, int(query.get("n", "1000")), int(query.get("size", "125")),
                  int(query.get("window", "0")), int(query.get("frag", "0")))
            return
        if name == "noread":
            conn.sendall(answer)
            time.sleep(120)  # the client gives up first; the thread goes with the process
            return
        if kind == "dribble":
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            for i in range(len(answer)):
                conn.sendall(answer[i:i + 1])
                time.sleep(0.002)
            conn.sendall(after)
        elif kind == "dribbleframes":
            conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            conn.sendall(answer)
            for i in range(0, len(after), 3):
                conn.sendall(after[i:i + 3])
                time.sleep(0.001)
        else:
            conn.sendall(answer + after)
        if name == "eof":
            conn.shutdown(socket.SHUT_WR)
        read_frames(conn, name)
    except OSError:
        pass
    finally:
        conn.close()


def main():
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(64)
    print(listener.getsockname()[1], flush=True)
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


main()
