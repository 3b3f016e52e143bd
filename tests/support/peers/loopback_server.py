"""What the loopback HTTP peers of the tests share.

A quiet HTTP/1.1 handler base, a threaded server on a free port of 127.0.0.1 or ::1 (plain or TLS), test
certificates, and the start-up protocol: one line "TAG <port>" per server on stdout, then the peer
lives as long as the test process that started it.

A peer script imports it with:
    sys.dont_write_bytecode = True
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "support", "peers"))
    import loopback_server
"""
import datetime
import http.server
import ipaddress
import os
import socket
import socketserver
import ssl
import threading
import time

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.x509.oid import NameOID


class QuietHandler(http.server.BaseHTTPRequestHandler):
    """HTTP/1.1 (connections are kept), no log lines, and send() for a whole answer."""
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send(self, code, data, ctype="text/plain", headers=()):
        self.send_response(code)
        self.send_header("Content-Type", ctype)
        self.send_header("Content-Length", str(len(data)))
        for k, v in headers:
            self.send_header(k, v)
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(data)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


class Server6(Server):
    address_family = socket.AF_INET6


def serve(handler, context=None, host="127.0.0.1"):
    """Serves the handler class on a thread at the loopback host (IPv6 for "::1"), over TLS with
    the context when given; the port."""
    server = (Server6 if ":" in host else Server)((host, 0), handler)
    if context:
        server.socket = context.wrap_socket(server.socket, server_side=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server.server_address[1]


def tls_context(certfile, keyfile):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certfile, keyfile)
    return context


def announce_and_wait(ports):
    """Prints "TAG <port>" for each (tag, port) in order, then returns when the test process ends."""
    for tag, port in ports:
        print("%s %d" % (tag, port), flush=True)
    parent = os.getppid()
    try:
        while os.getppid() == parent:  # ends with the test process, however it ends
            time.sleep(0.5)
    except KeyboardInterrupt:
        pass


# ---- test certificates

def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def make_cert(subject, issuer, key, issuer_key, ca, hosts=False):
    """A certificate valid from yesterday for 30 days; with hosts, for localhost and 127.0.0.1."""
    now = datetime.datetime.now(datetime.timezone.utc)
    builder = (x509.CertificateBuilder().subject_name(name(subject)).issuer_name(name(issuer))
               .public_key(key.public_key()).serial_number(x509.random_serial_number())
               .not_valid_before(now - datetime.timedelta(days=1)).not_valid_after(now + datetime.timedelta(days=30))
               .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if hosts:
        builder = builder.add_extension(x509.SubjectAlternativeName(
            [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]), critical=False)
    return builder.sign(issuer_key, hashes.SHA256())


def write_certs(path, certs, encoding=serialization.Encoding.PEM):
    with open(path, "wb") as f:
        for c in certs:
            f.write(c.public_bytes(encoding))


def write_key(path, key):
    with open(path, "wb") as f:
        f.write(key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                  serialization.NoEncryption()))
