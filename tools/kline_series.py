#!/usr/bin/python3
"""Rate-series peer of the chart tests: packets made and read by Python, not by our code.

usage:
  kline_series.py rows SEED COUNT ZONE AVAILABLE
      Prints one JSON line: {"gzip", "zlib", "gnu": base64 packets (Python's gzip, zlib, GNU gzip),
      "refresh": base64 gzip packet of the 5 rows after the series, "rows": [...], "refreshRows": [...]}.
      Rows: {"open","close","low","high","date","timestamp","MA5","MA10","MA20"} as the client
      should decode them in ZONE with AVAILABLE decimal places.
  kline_series.py serve DIR SEED COUNT
      Serves the series on 127.0.0.1 over HTTP and HTTPS (certificates made in DIR by the HTTP
      client peer's PKI: ca.der anchors leaf for localhost/127.0.0.1); prints "HTTP <port>" and
      "HTTPS <port>". Paths (any directory): .../getGZipRateRange.shtml (the series),
      .../getLastRateRange.shtml (the refresh packet), /slow/... (waits 3 s first), /missing (404),
      /drop (closes without answering), /huge (17 MiB), /count (how many series and refresh
      packets were asked for so far, as decimal text). No Content-Encoding header is sent: the
      body is the packet itself. Ends when its parent process ends.
"""
import base64
import datetime
import gzip
import http.server
import json
import os
import random
import socketserver
import ssl
import struct
import subprocess
import sys
import threading
import time
import zlib
from zoneinfo import ZoneInfo

CODES = [("l", 85, 7), ("i", 84, 7), ("g", 69, 7), ("a", 68, 7), ("y", 49, 6), ("z", 48, 6), ("j", 43, 6),
         ("e", 35, 6), ("o", 33, 6), ("q", 32, 6), ("x", 31, 6), ("8", 31, 5), ("p", 30, 6), ("5", 30, 5),
         ("w", 29, 6), ("1", 29, 5), ("k", 28, 6), ("2", 28, 5), ("c", 27, 6), ("4", 27, 5), ("r", 26, 6),
         ("3", 26, 5), ("v", 25, 6), ("#", 25, 5), ("u", 24, 6), ("n", 23, 6), ("$", 23, 5), ("t", 22, 6),
         ("h", 22, 5), ("f", 21, 6), ("b", 20, 6), ("s", 20, 5), ("m", 19, 5), ("d", 18, 5), ("-", 4, 4),
         ("0", 3, 4), ("6", 2, 4), ("7", 1, 4), ("9", 0, 4)]
BITS = {s: format(v, "0%db" % n) for s, v, n in CODES}


def record(text):
    bits = "".join(BITS[c] for c in text)
    padded = bits + "0" * (-len(bits) % 8)
    body = int(padded, 2).to_bytes(len(padded) // 8, "big") if padded else b""
    return struct.pack(">II", random.getrandbits(32), len(bits)) + body


def packet(texts):
    return struct.pack(">I", len(texts)) + b"".join(record(t) for t in texts)


def offset_text(seconds):
    d, rest = divmod(seconds, 86400)
    h, rest = divmod(rest, 3600)
    m, s = divmod(rest, 60)
    out = ""
    for n, u in ((d, "d"), (h, "h"), (m, "m"), (s, "s")):
        if n:
            out += "%d%s" % (n, u)
    return out


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def series(seed, count, zone, available, extra=0):
    rnd = random.Random(seed)
    random.seed(seed)
    tz = ZoneInfo(zone)
    base = rnd.randint(10000, 90000)
    start = datetime.datetime(2026, rnd.randint(1, 12), rnd.randint(1, 28), rnd.randint(0, 23), rnd.randint(0, 59),
                              rnd.randint(0, 59), tzinfo=tz)
    # Keep clear of the gap and the repeated hour of a daylight-saving change.
    start = datetime.datetime.fromtimestamp(start.timestamp(), tz)
    t0 = start.timestamp()
    texts, rows, offset = [], [], 0
    for i in range(count + extra):
        o, c, l, h = (rnd.randint(-500, 500) for _ in range(4))
        if i == 0:
            texts.append("%d#%d#%d#%d#%d#%d#%s" % (base, rnd.randint(0, 9), o, c, l, h, start.strftime("%Y%m%d%H%M%S")))
        else:
            offset += rnd.choice([60, 300, 3600, 86400, 90061])
            texts.append("%d#%d#%d#%d#%s" % (o, c, l, h, offset_text(offset)))
        ts = t0 + offset
        rows.append({"open": "%f" % ((base + o) / 10 ** available), "close": "%f" % ((base + c) / 10 ** available),
                     "low": "%f" % ((base + l) / 10 ** available), "high": "%f" % ((base + h) / 10 ** available),
                     "timestamp": ts,
                     "date": datetime.datetime.fromtimestamp(ts, tz).strftime("%Y-%m-%d %H:%M:%S")})
    return texts, rows


def add_ma(rows):
    for i, row in enumerate(rows):
        for n in (5, 10, 20):
            if i < n - 1:
                row["MA%d" % n] = None
            else:
                row["MA%d" % n] = "%f" % (sum(f32(float(r["close"])) for r in rows[i - n + 1:i + 1]) / n)
    return rows


def rows_main(seed, count, zone, available):
    texts, rows = series(seed, count, zone, available, extra=5)
    main = packet(texts[:count])
    # The refresh packet: the last two rows of the series again, then five new ones; its first
    # record carries the series' base price and the time of its own first row.
    first = rows[count - 2]
    refresh_texts = ["%s#0#%s" % (texts[0].split("#")[0], "#".join(texts[count - 2].split("#")[:4]))]
    refresh_texts[0] += "#" + datetime.datetime.fromtimestamp(first["timestamp"], ZoneInfo(zone)).strftime("%Y%m%d%H%M%S")
    refresh_rows = [dict(first)]
    for t, r in zip(texts[count - 1:], rows[count - 1:]):
        o, c, l, h, _ = t.split("#")
        refresh_texts.append("%s#%s#%s#%s#%s" % (o, c, l, h, offset_text(int(r["timestamp"] - first["timestamp"]))))
        refresh_rows.append(dict(r))
    gnu = subprocess.run(["gzip", "-c", "-n"], input=main, stdout=subprocess.PIPE, check=True).stdout
    out = {"gzip": base64.b64encode(gzip.compress(main)).decode(), "zlib": base64.b64encode(zlib.compress(main)).decode(),
           "gnu": base64.b64encode(gnu).decode(), "refresh": base64.b64encode(gzip.compress(packet(refresh_texts))).decode(),
           "rows": add_ma(rows[:count]), "refreshRows": add_ma(refresh_rows)}
    print(json.dumps(out), flush=True)


def serve_main(directory, seed, count):
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "appnet", "peers"))
    import http_client_server
    http_client_server.make_pki(directory)
    texts, _ = series(seed, count, "Asia/Shanghai", 4, extra=3)
    history = gzip.compress(packet(texts[:count]))
    refresh = gzip.compress(packet(texts[:1] + texts[count:]))
    asked = [0]
    asked_lock = threading.Lock()

    class Handler(http.server.BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, *args):
            pass

        def answer(self, status, body):
            self.send_response(status)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_GET(self):
            path = self.path.split("?")[0]
            if path.startswith("/slow/"):
                time.sleep(3)
            if path == "/drop":
                self.close_connection = True
                self.connection.shutdown(2)
                return
            if path == "/huge":
                return self.answer(200, b"\0" * (17 << 20))
            if path == "/count":
                with asked_lock:
                    return self.answer(200, str(asked[0]).encode())
            if path.endswith("RateRange.shtml"):
                with asked_lock:
                    asked[0] += 1
            if path.endswith("getGZipRateRange.shtml"):
                return self.answer(200, history)
            if path.endswith("getLastRateRange.shtml"):
                return self.answer(200, refresh)
            self.answer(404, b"not here")

    class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
        daemon_threads = True

    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(directory, "chain.pem"), os.path.join(directory, "leaf.key"))
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    for s in (plain, secure):
        threading.Thread(target=s.serve_forever, daemon=True).start()
    print("HTTP %d" % plain.server_address[1], flush=True)
    print("HTTPS %d" % secure.server_address[1], flush=True)
    parent = os.getppid()
    while os.getppid() == parent:  # ends with the test process, however it ends
        time.sleep(0.2)


if __name__ == "__main__":
    if sys.argv[1] == "rows":
        rows_main(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4], int(sys.argv[5]))
    else:
        serve_main(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]))
