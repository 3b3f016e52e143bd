#!/usr/bin/python3
"""Answers the app utilities' checks with Python's own implementations.

Usage: utilities_peer.py REQUESTS.json
REQUESTS.json holds a list of {"op": ..., ...} objects; one JSON line with the list of answers is
printed to standard output (null where Python refuses the input).
"""
import base64
import binascii
import hashlib
import json
import sys
import urllib.parse

from cryptography.hazmat.primitives import padding
from cryptography.hazmat.primitives.ciphers import Cipher, algorithms, modes


def pkcs7_pad(data):
    padder = padding.PKCS7(128).padder()
    return padder.update(data) + padder.finalize()


def pkcs7_unpad(data):
    unpadder = padding.PKCS7(128).unpadder()
    return unpadder.update(data) + unpadder.finalize()


def aes128_cipher(key):
    return Cipher(algorithms.AES(key.encode("utf-8")[:16]), modes.ECB())


def aes256_cipher(key):
    digest = hashlib.md5(key.encode("utf-8")).hexdigest().upper().encode("ascii")
    return Cipher(algorithms.AES(digest), modes.CBC(bytes(16)))


def answer(request):
    op = request["op"]
    if op == "md5":
        with open(request["path"], "rb") as f:
            return hashlib.md5(f.read()).hexdigest()
    if op == "b64":
        try:
            return base64.b64decode(request["text"], validate=True).hex()
        except (binascii.Error, ValueError):
            return None
    if op == "qsl":
        return urllib.parse.parse_qsl(request["query"], keep_blank_values=True, strict_parsing=True)
    if op == "quote_plus":
        return urllib.parse.quote_plus(request["text"])
    if op == "aes128_enc":
        enc = aes128_cipher(request["key"]).encryptor()
        data = pkcs7_pad(bytes.fromhex(request["plain_hex"]))
        return base64.b64encode(enc.update(data) + enc.finalize()).decode("ascii")
    if op == "aes128_dec":
        dec = aes128_cipher(request["key"]).decryptor()
        data = base64.b64decode(request["cipher_b64"], validate=True)
        return pkcs7_unpad(dec.update(data) + dec.finalize()).hex()
    if op == "aes256_enc":
        enc = aes256_cipher(request["key"]).encryptor()
        data = pkcs7_pad(bytes.fromhex(request["plain_hex"]))
        return (enc.update(data) + enc.finalize()).hex()
    if op == "aes256_dec":
        dec = aes256_cipher(request["key"]).decryptor()
        data = bytes.fromhex(request["cipher_hex"])
        return pkcs7_unpad(dec.update(data) + dec.finalize()).hex()
    if op == "gb18030":
        return len(request["text"].encode("gb18030"))
    raise ValueError("unknown op " + op)


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        requests = json.load(f)
    print(json.dumps([answer(r) for r in requests]), flush=True)


if __name__ == "__main__":
    main()
