#!/usr/bin/python3
"""Writes the fuzz_packets seeds that pass every check: a packet per crypt flag (0, 1, 4), each with
a correct hash and signature, made with the test keys and the loopback bank server's own encoder.
The session randoms are the ones PacketFuzz.cc fixes, so the 3DES payload decrypts.

    fuzz/make_packet_seeds.py      (from the source root; overwrites the *_checked.json seeds)
"""
import json
import os
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import bank_server  # noqa: E402

CLIENT_RANDOM = bytes(range(24))  # PacketFuzz.cc
SERVER_RANDOM = "fuzz-random"     # PacketFuzz.cc


def main():
    bank = bank_server.Bank(os.path.join(ROOT, "tests", "data", "container", "keys"))
    session = {"client": CLIENT_RANDOM, "server": SERVER_RANDOM}
    payload = json.dumps({"RETCODE": "AAAAAAA", "RETMSG": "ok", "LIST": [{"RATE": 7.1234}]}).encode()
    out = os.path.join(ROOT, "fuzz", "corpus", "fuzz_packets")
    for name, crypt in (("plain", 0), ("des", 1), ("rsa", 4)):
        packet = bank.encode_business(payload, crypt, session, True, True)
        with open(os.path.join(out, name + "_checked.json"), "w") as f:
            f.write(json.dumps(packet, separators=(",", ":")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
