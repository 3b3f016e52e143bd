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
import datetime
import email.parser
import email.policy
import http.server
import ipaddress
import json
import os
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID

PATTERN = bytes((i * 7) & 0xFF for i in range(2000))


def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def make_cert(subject, issuer, key, issuer_key, ca, hosts=()):
    now = datetime.datetime.utcnow()
    builder = (x509.CertificateBuilder().subject_name(name(subject)).issuer_name(name(issuer))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1)).not_valid_after(now + datetime.timedelta(days=30))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if hosts:
        builder = builder.add_extension(x509.SubjectAlternativeName(
            [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def pem(cert):
    return cert.public_bytes(serialization.Encoding.PEM)


def write_key(path, key):
    with open(path, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))


def make_pki(d):
    ca_key, int_key, leaf_key, self_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(4))
    ca = make_cert("Test CA", "Test CA", ca_key, ca_key, True)
    inter = make_cert("Test Intermediate", "Test CA", int_key, ca_key, True)
    leaf = make_cert("localhost", "Test Intermediate", leaf_key, int_key, False, hosts=True)
    selfsigned = make_cert("localhost", "localhost", self_key, self_key, False, hosts=True)
    for n, c in (("ca", ca), ("intermediate", inter), ("leaf", leaf), ("selfsigned", selfsigned)):
        with open(os.path.join(d, n + ".der"), "wb") as f:
            f.write(c.public_bytes(serialization.Encoding.DER))
    with open(os.path.join(d, "chain.pem"), "wb") as f:
        f.write(pem(leaf) + pem(inter))
    write_key(os.path.join(d, "leaf.key"), leaf_key)
    with open(os.path.join(d, "self.pem"), "wb") as f:
        f.write(pem(selfsigned))
    write_key(os.path.join(d, "self.key"), self_key)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

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

    def send(self, code, data, ctype="text/plain", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)

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


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(context=None):
    server = Server(("127.0.0.1", 0), Handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def main():
    d = sys.argv[1]
    make_pki(d)
    chain = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    chain.load_cert_chain(os.path.join(d, "chain.pem"), os.path.join(d, "leaf.key"))
    selfctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    selfctx.load_cert_chain(os.path.join(d, "self.pem"), os.path.join(d, "self.key"))
    print("HTTP %d" % serve(), flush=True)
    print("CHAIN %d" % serve(chain), flush=True)
    print("SELF %d" % serve(selfctx), flush=True)
    parent = os.getppid()
    try:
        while os.getppid() == parent:  # ends with the test process, however it ends
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
