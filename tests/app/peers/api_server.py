#!/usr/bin/python3
"""Loopback REST peer of the API layer tests.

usage: api_server.py DIR
Makes a test PKI in DIR (ca.der, leaf.der, selfsigned.der) and serves the same handler on
127.0.0.1 over plain HTTP, HTTPS with a self-signed certificate and HTTPS with a leaf under the
test CA (both for localhost and 127.0.0.1), and over plain HTTP on ::1. Prints "HTTP <port>",
"SELF <port>", "CHAIN <port>", "HTTP6 <port>". Every server shares the scripts and records.

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
import json
import os
import sys
import threading
import urllib.parse

from cryptography.hazmat.primitives import serialization
from cryptography.hazmat.primitives.asymmetric import ec

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support", "peers"))
from loopback_server import QuietHandler, announce_and_wait, make_cert, serve, tls_context, write_certs, write_key  # noqa: E402

LOCK = threading.Lock()
SCRIPTS = {}
RECORDS = []
RELEASE = threading.Event()


def make_pki(d):
    ca_key, leaf_key, self_key = (ec.generate_private_key(ec.SECP256R1()) for _ in range(3))
    ca = make_cert("API Test CA", "API Test CA", ca_key, ca_key, True, hosts=True)
    leaf = make_cert("localhost", "API Test CA", leaf_key, ca_key, False, hosts=True)
    selfsigned = make_cert("localhost", "localhost", self_key, self_key, False, hosts=True)
    for n, c in (("ca", ca), ("leaf", leaf), ("selfsigned", selfsigned)):
        write_certs(os.path.join(d, n + ".der"), [c], serialization.Encoding.DER)
    for stem, cert, key in (("chain", leaf, leaf_key), ("self", selfsigned, self_key)):
        write_certs(os.path.join(d, stem + ".pem"), [cert])
        write_key(os.path.join(d, stem + ".key"), key)


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


class Handler(QuietHandler):
    def read_body(self):
        return self.rfile.read(int(self.headers.get("Content-Length", "0") or 0))

    def control(self, path, body):
        global RELEASE
        if path == "/_control/script":
            s = json.loads(body)
            with LOCK:
                SCRIPTS[(s.get("method", "POST"), s["path"])] = s
        elif path == "/_control/requests":
            with LOCK:
                out = json.dumps(RECORDS).encode()
            return self.send(200, out, "application/json")
        elif path == "/_control/release":
            RELEASE.set()
        elif path == "/_control/reset":
            with LOCK:
                SCRIPTS.clear()
                RECORDS.clear()
            RELEASE.set()
            RELEASE = threading.Event()
        self.send(200, b"{}", "application/json")

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


def main():
    d = sys.argv[1]
    make_pki(d)
    announce_and_wait([("HTTP", serve(Handler)),
                       ("SELF", serve(Handler, tls_context(os.path.join(d, "self.pem"), os.path.join(d, "self.key")))),
                       ("CHAIN", serve(Handler, tls_context(os.path.join(d, "chain.pem"), os.path.join(d, "chain.key")))),
                       ("HTTP6", serve(Handler, host="::1"))])


if __name__ == "__main__":
    main()
