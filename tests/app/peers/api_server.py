#!/usr/bin/python3
"""Loopback REST peer of the API layer tests.

usage: api_server.py DIR
Makes a test PKI in DIR (ca.der, leaf.der, selfsigned.der) and serves the same handler on
127.0.0.1 over plain HTTP, HTTPS with a self-signed certificate and HTTPS with a leaf under the
test CA (both for localhost and 127.0.0.1). Prints "HTTP <port>", "SELF <port>", "CHAIN <port>".

Service paths ("/info/...", "/autdTradePre/...", any other path alike) are recorded and answered
as scripted for their method and path; without a script: 200, {"success":1}, application/json.

Control paths (never recorded):
  POST /_control/script    {"method", "path", "status", "body_b64", "content_type", "mode"}
                           mode: "answer" (default), "hold" (wait for a release, then answer),
                           "drop" (close without an answer), "endless" (a body that never ends)
  GET  /_control/requests  JSON list of the recorded requests: method, target, path, headers,
                           body_b64, and what urllib.parse.parse_qs and json.loads read from the
                           query ("query", "query_json") and from the body ("form", "form_json")
  POST /_control/release   lets every held answer go
  POST /_control/reset     forgets scripts and records (and releases held answers)
"""
import base64
import datetime
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

LOCK = threading.Lock()
SCRIPTS = {}
RECORDS = []
RELEASE = threading.Event()


def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def make_cert(subject, issuer, key, issuer_key, ca):
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(name(subject)).issuer_name(name(issuer))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1)).not_valid_after(now + datetime.timedelta(days=30))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if not ca or subject == issuer:
        builder = builder.add_extension(x509.SubjectAlternativeName(
            [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def write_pair(d, stem, certs, key):
    with open(os.path.join(d, stem + ".pem"), "wb") as f:
        for c in certs:
            f.write(c.public_bytes(serialization.Encoding.PEM))
    with open(os.path.join(d, stem + ".key"), "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))


def make_pki(d):
    ca_key, leaf_key, self_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(3))
    ca = make_cert("API Test CA", "API Test CA", ca_key, ca_key, True)
    leaf = make_cert("localhost", "API Test CA", leaf_key, ca_key, False)
    selfsigned = make_cert("localhost", "localhost", self_key, self_key, False)
    for n, c in (("ca", ca), ("leaf", leaf), ("selfsigned", selfsigned)):
        with open(os.path.join(d, n + ".der"), "wb") as f:
            f.write(c.public_bytes(serialization.Encoding.DER))
    write_pair(d, "chain", [leaf], leaf_key)
    write_pair(d, "self", [selfsigned], self_key)


def read_json(text):
    try:
        return json.loads(text)
    except ValueError:
        return None


def parsed(text):
    """What a standard form decoder and JSON reader make of a query or body."""
    form = urllib.parse.parse_qs(text, keep_blank_values=True)
    value = None
    for key in ("requestJson", "reqJson"):
        if key in form:
            value = read_json(form[key][0])
    return form, value


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def read_body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0") or 0))

    def send(self, status, body, ctype="application/json"):
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def control(self, path, body):
        global RELEASE
        if path == "/_control/script":
            s = json.loads(body)
            with LOCK:
                SCRIPTS[(s.get("method", "POST"), s["path"])] = s
        elif path == "/_control/requests":
            with LOCK:
                out = json.dumps(RECORDS).encode()
            return self.send(200, out)
        elif path == "/_control/release":
            RELEASE.set()
        elif path == "/_control/reset":
            with LOCK:
                SCRIPTS.clear()
                RECORDS.clear()
            RELEASE.set()
            RELEASE = threading.Event()
        self.send(200, b"{}")

    def handle_any(self):
        split = urllib.parse.urlsplit(self.path)
        body = self.read_body()
        if split.path.startswith("/_control/"):
            return self.control(split.path, body)
        query_form, query_json = parsed(split.query)
        body_form, body_json = parsed(body.decode("utf-8", "replace"))
        record = {"method": self.command, "target": self.path, "path": split.path,
                  "headers": {k: v for k, v in self.headers.items()},
                  "body_b64": base64.b64encode(body).decode(),
                  "query": query_form, "query_json": query_json, "form": body_form, "form_json": body_json}
        with LOCK:
            RECORDS.append(record)
            script = SCRIPTS.get((self.command, split.path), {})
            release = RELEASE
        mode = script.get("mode", "answer")
        status = script.get("status", 200)
        answer = base64.b64decode(script["body_b64"]) if "body_b64" in script else b'{"success":1}'
        ctype = script.get("content_type", "application/json")
        if mode == "hold":
            release.wait(60)
        if mode == "drop":
            self.close_connection = True
            self.connection.shutdown(2)
            return
        if mode == "endless":
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            self.end_headers()
            chunk = b"x" * 65536
            try:
                while True:
                    self.wfile.write(chunk)
            except OSError:
                self.close_connection = True
            return
        try:
            self.send(status, answer, ctype)
        except OSError:
            self.close_connection = True

    do_GET = do_POST = handle_any


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def serve(context=None):
    server = Server(("127.0.0.1", 0), Handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def tls(d, stem):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(os.path.join(d, stem + ".pem"), os.path.join(d, stem + ".key"))
    return context


def main():
    d = sys.argv[1]
    make_pki(d)
    print("HTTP %d" % serve(), flush=True)
    print("SELF %d" % serve(tls(d, "self")), flush=True)
    print("CHAIN %d" % serve(tls(d, "chain")), flush=True)
    parent = os.getppid()
    try:
        while os.getppid() == parent:  # ends with the test process, however it ends
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    main()
