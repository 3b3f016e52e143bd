#!/usr/bin/python3
"""A loopback HTTP/HTTPS peer that answers as a server gone bad would.

usage: hostile_http_server.py DIR
Makes a self-signed certificate for localhost / 127.0.0.1 in DIR (cert.pem, key.pem) and serves on
127.0.0.1 plain HTTP and HTTPS, printing "HTTP <port>" and "HTTPS <port>". Every path answers GET
and POST alike (a request body is read and dropped); HEAD gets the head of the GET answer.

Paths:
  /gen?size=N&framing=F&gzip=G&status=S&noise=R  N generated body bytes ("0123456789" over and
                                 over, or with R=1 random digits, which compress to about 45%;
                                 N = -1: no end), framed by F: "length" (Content-Length), "chunked"
                                 (the default) or "close" (the end of the connection); G=1 sends
                                 them gzip-compressed as they are made (Content-Encoding: gzip), or
                                 compressed whole first when framed by their (compressed) length;
                                 G=2 compressed so twice over (Content-Encoding: gzip, gzip);
                                 status S (200 by default; a 3xx one redirects to /answer, a 401
                                 asks for Basic credentials)
  /answer?b64=B&extra=E&pad=P&ctype=T  the bytes of B (Base64) followed by P spaces,
                                 with a Content-Length E bytes larger than they are, then the
                                 connection closes (E=0: a whole answer); content type T
                                 (text/plain by default)
  /packed?b64=B&coding=C&cut=N&trailer=bad&members=M&empty=1  the bytes of B compressed as C:
                                 "gzip", "deflate" (zlib-wrapped) or "raw" (raw deflate, announced as
                                 deflate); gzip cut into M members (1 by default), and with empty=1
                                 an empty member after them; the last N bytes of the stream left out,
                                 and with trailer=bad its last byte changed; Content-Length the bytes
                                 sent, which end the answer
  /raw?b64=B                     the bytes of B written as they are (status line and all), then the
                                 connection closes
  /longheader?size=N             200 "ok" with one header line of N bytes
  /redirect?code=C&to=URL        status C with Location URL
  /hits                          how many requests reached the peer, as text (this one not counted)
"""
import base64
import os
import sys
import threading
import urllib.parse
import zlib

from cryptography.hazmat.primitives.asymmetric import ec

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from loopback_server import QuietHandler, announce_and_wait, make_cert, serve, tls_context, write_certs, write_key  # noqa: E402

PIECE = b"0123456789" * 6554  # 65,540 bytes
_hits = 0
_hits_lock = threading.Lock()


DIGITS = bytes(ord("0") + i % 10 for i in range(256))


def generated(size, noise=False):
    """The body's bytes in pieces of at most 64 KiB; size -1 has no end."""
    left = size
    while left != 0:
        n = len(PIECE) if left < 0 else min(left, len(PIECE))
        yield os.urandom(n).translate(DIGITS) if noise else PIECE[:n]
        if left > 0:
            left -= n


def gzipped(pieces):
    compressor = zlib.compressobj(9, zlib.DEFLATED, 31)
    for piece in pieces:
        out = compressor.compress(piece)
        if out:
            yield out
    yield compressor.flush()


class Handler(QuietHandler):
    def do_GET(self):
        self.route()

    def do_HEAD(self):
        self.route()

    def do_POST(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length:
            self.rfile.read(length)
        self.route()

    def route(self):
        global _hits
        url = urllib.parse.urlparse(self.path)
        query = dict(urllib.parse.parse_qsl(url.query))
        if url.path != "/hits":
            with _hits_lock:
                _hits += 1
        try:
            handler = getattr(self, "path_" + url.path.strip("/"), None)
            if handler is None:
                self.send(404, b"no such path")
            else:
                handler(query)
        except OSError:
            self.close_connection = True  # the client went away: that is what it may do

    def path_hits(self, query):
        with _hits_lock:
            count = _hits
        self.send(200, str(count).encode())

    def path_gen(self, query):
        size = int(query.get("size", "0"))
        framing = query.get("framing", "chunked")
        pieces = generated(size, query.get("noise") == "1")
        status = int(query.get("status", "200"))
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if 300 <= status < 400:
            self.send_header("Location", "/answer")
        elif status == 401:
            self.send_header("WWW-Authenticate", 'Basic realm="gen"')
        length = size
        times = int(query.get("gzip", "0"))
        if times > 0:
            for _ in range(times):
                pieces = gzipped(pieces)
            self.send_header("Content-Encoding", ", ".join(["gzip"] * times))
            if framing == "length":
                pieces = [b"".join(pieces)]
                length = len(pieces[0])
        if framing == "length":
            self.send_header("Content-Length", str(length))
        elif framing == "chunked":
            self.send_header("Transfer-Encoding", "chunked")
        else:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if self.command == "HEAD":
            return
        for piece in pieces:
            if framing == "chunked":
                self.wfile.write(b"%x\r\n%s\r\n" % (len(piece), piece))
            else:
                self.wfile.write(piece)
        if framing == "chunked":
            self.wfile.write(b"0\r\n\r\n")

    def path_answer(self, query):
        data = base64.b64decode(query.get("b64", ""))
        extra = int(query.get("extra", "0"))
        pad = int(query.get("pad", "0"))
        self.send_response(200)
        self.send_header("Content-Type", query.get("ctype", "text/plain"))
        self.send_header("Content-Length", str(len(data) + pad + extra))
        self.end_headers()
        self.wfile.write(data)
        while pad > 0:
            n = min(pad, 65536)
            self.wfile.write(b" " * n)
            pad -= n
        if extra:
            self.close_connection = True

    def path_packed(self, query):
        data = base64.b64decode(query.get("b64", ""))
        coding = query.get("coding", "gzip")
        members = int(query.get("members", "1"))
        parts = [data[len(data) * i // members:len(data) * (i + 1) // members] for i in range(members)]
        if query.get("empty") == "1":
            parts.append(b"")
        stream = b""
        for part in parts:
            compressor = zlib.compressobj(9, zlib.DEFLATED, {"gzip": 31, "deflate": 15, "raw": -15}[coding])
            stream += compressor.compress(part) + compressor.flush()
        if query.get("trailer") == "bad":
            stream = stream[:-1] + bytes([stream[-1] ^ 0xFF])
        cut = int(query.get("cut", "0"))
        if cut:
            stream = stream[:-cut]
        self.send(200, stream, headers=[("Content-Encoding", "gzip" if coding == "gzip" else "deflate")])

    def path_raw(self, query):
        self.close_connection = True
        self.wfile.write(base64.b64decode(query.get("b64", "")))

    def path_longheader(self, query):
        self.send(200, b"ok", headers=[("X-Long", "a" * int(query.get("size", "0")))])

    def path_redirect(self, query):
        self.send(int(query.get("code", "302")), b"", headers=[("Location", query.get("to", "/"))])


def main():
    folder = sys.argv[1]
    key = ec.generate_private_key(ec.SECP256R1())
    cert = make_cert("localhost", "localhost", key, key, False, hosts=True)
    cert_path, key_path = os.path.join(folder, "cert.pem"), os.path.join(folder, "key.pem")
    write_certs(cert_path, [cert])
    write_key(key_path, key)
    ports = [("HTTP", serve(Handler)), ("HTTPS", serve(Handler, tls_context(cert_path, key_path)))]
    announce_and_wait(ports)


main()
