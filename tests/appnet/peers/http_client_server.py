#!/usr/bin/python3
"""Loopback HTTP/HTTPS peer of the HTTP client tests.

usage: http_client_server.py DIR
Makes a test PKI in DIR (ca.der, intermediate.der, leaf.der, selfsigned.der, as DER) and serves on
127.0.0.1: plain HTTP, HTTPS with leaf + intermediate (leaf for localhost/127.0.0.1 under the CA),
and HTTPS with a self-signed certificate. Prints "HTTP <port>", "CHAIN <port>", "SELF <port>".

Paths:
  /echo                 JSON {method, path, query, headers, body}
  /status?code=N&type=T status N, body "status N" (or {"status": N} for T=json)
  /json                 {"a": null, "b": [null, {"c": null}]} as application/json
  /multipart            the body parsed with the email package: JSON {length_ok, parts: [...]}
  /range?stall=1        2000 pattern bytes, ETag "v1"; Range honoured (If-Range must match);
                        stall=1 sends half, then waits for the client to go
  /download?size=N      N pattern bytes with a Content-Disposition file name
"""
import email.parser
import email.policy
import json
import os
import sys
import time
import urllib.parse

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support", "peers"))
from loopback_server import QuietHandler, announce_and_wait, make_cert, serve, tls_context, write_certs, write_key  # noqa: E402

PATTERN = bytes((i * 7) & 0xFF for i in range(2000))


def make_pki(d):
    ca_key, int_key, leaf_key, self_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(4))
    ca = make_cert("Test CA", "Test CA", ca_key, ca_key, True)
    inter = make_cert("Test Intermediate", "Test CA", int_key, ca_key, True)
    leaf = make_cert("localhost", "Test Intermediate", leaf_key, int_key, False, hosts=True)
    selfsigned = make_cert("localhost", "localhost", self_key, self_key, False, hosts=True)
    for n, c in (("ca", ca), ("intermediate", inter), ("leaf", leaf), ("selfsigned", selfsigned)):
        write_certs(os.path.join(d, n + ".der"), [c], serialization.Encoding.DER)
    write_certs(os.path.join(d, "chain.pem"), [leaf, inter])
    write_key(os.path.join(d, "leaf.key"), leaf_key)
    write_certs(os.path.join(d, "self.pem"), [selfsigned])
    write_key(os.path.join(d, "self.key"), self_key)


class Handler(QuietHandler):
    def body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().strip(), 16)
                if size == 0:
                    self.rfile.readline()
                    return data
                data += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0") or 0))

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        q = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        body = self.body()
        if url.path == "/echo":
            out = {"method": self.command, "path": url.path, "query": url.query,
                   "headers": {k: v for k, v in self.headers.items()}, "body": body.decode("utf-8", "replace")}
            self.send(200, json.dumps(out).encode(), "application/json")
        elif url.path == "/status":
            code = int(q.get("code", "200"))
            if q.get("type") == "json":
                self.send(code, json.dumps({"status": code}).encode(), "application/json")
            else:
                self.send(code, ("status %d" % code).encode(), q.get("ctype", "text/plain"))
        elif url.path == "/json":
            self.send(200, b'{"a": null, "b": [null, {"c": null}]}', "application/json")
        elif url.path == "/multipart":
            declared = int(self.headers.get("Content-Length", "-1"))
            raw = b"Content-Type: " + self.headers.get("Content-Type", "").encode() + b"\r\n\r\n" + body
            msg = email.parser.BytesParser(policy=email.policy.HTTP).parsebytes(raw)
            parts = []
            for part in msg.iter_parts():
                parts.append({"name": part.get_param("name", header="content-disposition"),
                              "filename": part.get_filename(),
                              "content_type": part.get("Content-Type"),
                              "data": part.get_payload(decode=True).decode("latin-1")})
            out = {"length_ok": declared == len(body), "length": len(body), "parts": parts,
                   "defects": len(msg.defects)}
            self.send(200, json.dumps(out).encode(), "application/json")
        elif url.path == "/range":
            rng = self.headers.get("Range")
            if_range = self.headers.get("If-Range")
            if rng and (if_range is None or if_range == '"v1"'):
                start = int(rng.split("=")[1].split("-")[0])
                data = PATTERN[start:]
                self.send(206, data, "application/octet-stream",
                          [("ETag", '"v1"'), ("Content-Range", "bytes %d-%d/%d" % (start, len(PATTERN) - 1, len(PATTERN)))])
                return
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(len(PATTERN)))
            self.send_header("ETag", '"v1"')
            self.end_headers()
            if q.get("stall"):
                self.wfile.write(PATTERN[:1000])
                self.wfile.flush()
                try:
                    for _ in range(100):
                        time.sleep(0.05)
                        self.wfile.write(b"")
                        self.wfile.flush()
                except OSError:
                    pass
                self.close_connection = True
                return
            self.wfile.write(PATTERN)
        elif url.path == "/download":
            size = int(q.get("size", "100"))
            data = (PATTERN * (size // len(PATTERN) + 1))[:size]
            self.send(int(q.get("code", "200")), data, q.get("ctype", "application/octet-stream"),
                      [("Content-Disposition", 'attachment; filename="menu.bin"')])
        else:
            self.send(200, b"hello")

    do_GET = do_POST = do_PUT = do_PATCH = do_DELETE = do_HEAD = handle_any


def main():
    d = sys.argv[1]
    make_pki(d)
    announce_and_wait([("HTTP", serve(Handler)),
                       ("CHAIN", serve(Handler, tls_context(os.path.join(d, "chain.pem"), os.path.join(d, "leaf.key")))),
                       ("SELF", serve(Handler, tls_context(os.path.join(d, "self.pem"), os.path.join(d, "self.key"))))])


if __name__ == "__main__":
    main()
