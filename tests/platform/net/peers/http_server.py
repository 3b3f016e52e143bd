#!/usr/bin/python3
"""Loopback HTTP and HTTPS test server for the URL-loading tests.

usage: http_server.py CERT_OUT_PATH
Makes a self-signed certificate for localhost / 127.0.0.1 (written to CERT_OUT_PATH as PEM) and a
client identity "fx-client" (CERT_OUT_PATH.client.pem: certificate and key;
CERT_OUT_PATH.client-cert.pem: the certificate alone), then serves on 127.0.0.1 (free ports) HTTP,
HTTPS that never asks for a client certificate, and HTTPS that requires the client identity, and
prints "HTTP <port>", "HTTPS <port>" and "HTTPS_CLIENT <port>".

Paths:
  /hello                      200 "hello" (text/plain; charset=utf-8)
  /echo                       JSON {method, path, headers, body} of the request (chunked bodies read)
  /status?code=N              status N with body "status N"
  /redirect?code=N&to=PATH    redirect with Location PATH (relative)
  /chain?n=N                  N redirects (302) ending at /hello
  /chunked?n=N                N chunks "chunk<i>\n", Transfer-Encoding: chunked
  /slow?n=N&delay=S           N chunks, S seconds apart
  /stall                      headers, one byte of body, then silence until the client goes
  /auth?user=U&password=P     401 Basic realm="fx" unless the Authorization matches, then "welcome U"
  /cookie/set?NAME=VALUE      sets the cookie (Path=/)
  /cookie/show                the Cookie header it received (empty text without one)
  /gzip                       gzip-encoded "compressed hello" (Content-Encoding: gzip)
  /deflate                    zlib-encoded body (Content-Encoding: deflate)
  /peer                       the common name of the client's certificate, "anonymous" without one
  /download?size=N            N bytes of a pattern, Content-Disposition filename "../../report.bin"
"""
import datetime
import os
import gzip
import http.server
import ipaddress
import json
import socketserver
import ssl
import sys
import threading
import time
import urllib.parse
import zlib
import base64

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec
from cryptography.x509.oid import NameOID


def make_certificate(cert_path, key_path, common_name="localhost"):
    key = ec.generate_private_key(ec.SECP256R1())
    name = x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, common_name)])
    now = datetime.datetime.utcnow()
    cert = (
        x509.CertificateBuilder()
        .subject_name(name)
        .issuer_name(name)
        .public_key(key.public_key())
        .serial_number(x509.random_serial_number())
        .not_valid_before(now - datetime.timedelta(days=1))
        .not_valid_after(now + datetime.timedelta(days=2))
        .add_extension(
            x509.SubjectAlternativeName(
                [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]
            ),
            critical=False,
        )
        .add_extension(x509.BasicConstraints(ca=True, path_length=None), critical=True)
        .sign(key, hashes.SHA256())
    )
    with open(cert_path, "wb") as f:
        f.write(cert.public_bytes(serialization.Encoding.PEM))
    with open(key_path, "wb") as f:
        f.write(
            key.private_bytes(
                serialization.Encoding.PEM,
                serialization.PrivateFormat.PKCS8,
                serialization.NoEncryption(),
            )
        )


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            body = b""
            while True:
                line = self.rfile.readline().strip()
                size = int(line.split(b";")[0], 16)
                if size == 0:
                    while self.rfile.readline().strip():
                        pass
                    return body
                body += self.rfile.read(size)
                self.rfile.readline()
        length = int(self.headers.get("Content-Length", "0") or "0")
        return self.rfile.read(length) if length else b""

    def send(self, status, body=b"", content_type="text/plain; charset=utf-8", headers=()):
        self.send_response(status)
        if content_type:
            self.send_header("Content-Type", content_type)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def send_chunk(self, data):
        self.wfile.write(b"%x\r\n%s\r\n" % (len(data), data))
        self.wfile.flush()

    def handle_any(self):
        url = urllib.parse.urlsplit(self.path)
        query = dict(urllib.parse.parse_qsl(url.query, keep_blank_values=True))
        path = url.path
        body = self.read_body()
        if path == "/hello":
            self.send(200, b"hello")
        elif path == "/peer":
            names = [v for rdn in (self.connection.getpeercert() or {}).get("subject", ()) for k, v in rdn
                     if k == "commonName"]
            self.send(200, (names[0] if names else "anonymous").encode())
        elif path == "/echo":
            payload = {
                "method": self.command,
                "path": self.path,
                "headers": {k: v for k, v in self.headers.items()},
                "body": body.decode("latin-1"),
            }
            self.send(200, json.dumps(payload).encode(), "application/json")
        elif path == "/status":
            code = int(query.get("code", "200"))
            self.send(code, ("status %d" % code).encode())
        elif path == "/redirect":
            code = int(query.get("code", "302"))
            self.send(code, b"moved", headers=[("Location", query.get("to", "/hello"))])
        elif path == "/chain":
            n = int(query.get("n", "1"))
            target = "/hello" if n <= 1 else "/chain?n=%d" % (n - 1)
            self.send(302, b"", headers=[("Location", target)])
        elif path in ("/chunked", "/slow"):
            n = int(query.get("n", "3"))
            delay = float(query.get("delay", "0"))
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            for i in range(n):
                if delay:
                    time.sleep(delay)
                self.send_chunk(b"chunk%d\n" % i)
            self.wfile.write(b"0\r\n\r\n")
        elif path == "/stall":
            self.send_response(200)
            self.send_header("Content-Type", "text/plain")
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"x")
            self.wfile.flush()
            self.connection.settimeout(30)
            try:
                self.rfile.read(1)  # until the client closes
            except Exception:
                pass
            self.close_connection = True
        elif path == "/auth":
            user = query.get("user", "user")
            password = query.get("password", "secret")
            expected = "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()
            if self.headers.get("Authorization") == expected:
                self.send(200, ("welcome %s" % user).encode())
            else:
                self.send(401, b"who are you", headers=[("WWW-Authenticate", 'Basic realm="fx"')])
        elif path == "/cookie/set":
            headers = [("Set-Cookie", "%s=%s; Path=/" % (k, v)) for k, v in query.items()]
            self.send(200, b"set", headers=headers)
        elif path == "/cookie/show":
            self.send(200, self.headers.get("Cookie", "").encode())
        elif path == "/gzip":
            self.send(200, gzip.compress(b"compressed hello"), headers=[("Content-Encoding", "gzip")])
        elif path == "/deflate":
            self.send(200, zlib.compress(b"deflated hello"), headers=[("Content-Encoding", "deflate")])
        elif path == "/download":
            size = int(query.get("size", "1000"))
            data = bytes((i * 7) & 0xFF for i in range(size))
            self.send(
                200,
                data,
                "application/octet-stream",
                headers=[("Content-Disposition", 'attachment; filename="../../report.bin"')],
            )
        else:
            self.send(404, b"not found")

    do_GET = do_POST = do_PUT = do_DELETE = do_PATCH = do_HEAD = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        pass  # clients that go away early (cancelled loads, refused certificates) are expected


def main():
    cert_path = sys.argv[1]
    key_path = cert_path + ".key"
    make_certificate(cert_path, key_path)
    plain = Server(("127.0.0.1", 0), Handler)
    secure = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_path, key_path)
    secure.socket = context.wrap_socket(secure.socket, server_side=True)
    client_cert = cert_path + ".client-cert.pem"
    client_key = cert_path + ".client-key.pem"
    make_certificate(client_cert, client_key, "fx-client")
    with open(cert_path + ".client.pem", "wb") as f:
        for part in (client_cert, client_key):
            with open(part, "rb") as g:
                f.write(g.read())
    asking = Server(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert_path, key_path)
    context.verify_mode = ssl.CERT_REQUIRED
    context.load_verify_locations(client_cert)
    asking.socket = context.wrap_socket(asking.socket, server_side=True)
    for server in (plain, secure, asking):
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print("HTTP %d" % plain.server_address[1], flush=True)
    print("HTTPS %d" % secure.server_address[1], flush=True)
    print("HTTPS_CLIENT %d" % asking.server_address[1], flush=True)
    # The test kills us when it ends; should it die first, go too.
    parent = os.getppid()
    while os.getppid() == parent:
        time.sleep(0.5)


if __name__ == "__main__":
    main()
