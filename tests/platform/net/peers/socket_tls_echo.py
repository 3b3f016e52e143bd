#!/usr/bin/python3
"""TLS echo peer: serves CERT/KEY on 127.0.0.1 (or ::1 with --ipv6), prints its port, and echoes every
byte back on each connection until the client closes. With --send TEXT it sends TEXT right after the
handshake; with --drop as well it then drops the connection without close_notify. With --client it
connects to PORT instead, trusting CA, and echoes the same way."""
import argparse
import socket
import ssl
import sys
import threading


def echo(conn, greeting, drop=False):
    try:
        if greeting:
            conn.sendall(greeting.encode())
        if drop:
            conn.shutdown(socket.SHUT_RDWR)  # an SSL socket's shutdown skips close_notify
            return
        while True:
            data = conn.recv(65536)
            if not data:
                break
            conn.sendall(data)
    except (ssl.SSLError, OSError):
        pass
    finally:
        try:
            conn.close()
        except OSError:
            pass


def serve(args):
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(args.cert, args.key)
    family = socket.AF_INET6 if args.ipv6 else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM)
    listener.bind(("::1" if args.ipv6 else "127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    while True:
        raw, _ = listener.accept()
        try:
            conn = context.wrap_socket(raw, server_side=True)
        except (ssl.SSLError, OSError) as error:
            print("handshake failed: %s" % error, flush=True)
            raw.close()
            continue
        threading.Thread(target=echo, args=(conn, args.send, args.drop), daemon=True).start()


def connect(args):
    context = ssl.create_default_context(cafile=args.ca)
    raw = socket.create_connection(("127.0.0.1", args.port))
    conn = context.wrap_socket(raw, server_hostname=args.name)
    print("secured %s" % conn.version(), flush=True)
    echo(conn, args.send)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cert")
    parser.add_argument("--key")
    parser.add_argument("--ipv6", action="store_true")
    parser.add_argument("--send", default="")
    parser.add_argument("--drop", action="store_true")
    parser.add_argument("--client", action="store_true")
    parser.add_argument("--ca")
    parser.add_argument("--port", type=int)
    parser.add_argument("--name", default="localhost")
    args = parser.parse_args()
    if args.client:
        connect(args)
    else:
        serve(args)


if __name__ == "__main__":
    sys.exit(main())
