#!/usr/bin/python3
"""Writes a small PKI for the trust tests into the folder given as the only argument.

root.pem / root.der        self-signed CA "Test Root"
inter.pem                  CA "Test Intermediate", issued by the root
leaf.pem / leaf.der        "localhost" (DNS localhost, IP 127.0.0.1), issued by the intermediate
leaf.key.pem               the leaf's RSA 2048 private key (PKCS#8)
expired.pem                like the leaf, but valid only in the past
selfsigned.pem             self-signed "other.example", not a CA
rsa1024.key.pem            an RSA 1024 private key (traditional PKCS#1 form)
rsa1024.pub.pem            its public key (SubjectPublicKeyInfo)
rsa1024.pub.der            the same, DER
rsa1024.cert.der           a self-signed certificate of that key

Prints "ok" when done.
"""
import datetime
import ipaddress
import os
import sys

from cryptography import x509
from cryptography.hazmat.primitives import hashes, serialization
from cryptography.hazmat.primitives.asymmetric import ec, rsa
from cryptography.x509.oid import NameOID

out = sys.argv[1]
now = datetime.datetime.now(datetime.timezone.utc)
day = datetime.timedelta(days=1)


def name(cn):
    return x509.Name([x509.NameAttribute(NameOID.COMMON_NAME, cn)])


def cert(subject_cn, key, issuer_cn, issuer_key, ca, start, end, sans=None):
    b = (x509.CertificateBuilder()
         .subject_name(name(subject_cn)).issuer_name(name(issuer_cn))
         .public_key(key.public_key()).serial_number(x509.random_serial_number())
         .not_valid_before(start).not_valid_after(end)
         .add_extension(x509.BasicConstraints(ca=ca, path_length=None), critical=True))
    if ca:
        b = b.add_extension(x509.KeyUsage(digital_signature=True, content_commitment=False,
                                          key_encipherment=False, data_encipherment=False,
                                          key_agreement=False, key_cert_sign=True, crl_sign=True,
                                          encipher_only=False, decipher_only=False), critical=True)
    else:
        b = b.add_extension(x509.ExtendedKeyUsage([x509.oid.ExtendedKeyUsageOID.SERVER_AUTH]), critical=False)
    if sans:
        b = b.add_extension(x509.SubjectAlternativeName(sans), critical=False)
    return b.sign(issuer_key, hashes.SHA256())


def write(filename, data):
    with open(os.path.join(out, filename), "wb") as f:
        f.write(data)


def pem(c):
    return c.public_bytes(serialization.Encoding.PEM)


def der(c):
    return c.public_bytes(serialization.Encoding.DER)


root_key = ec.generate_private_key(ec.SECP256R1())
inter_key = ec.generate_private_key(ec.SECP256R1())
leaf_key = rsa.generate_private_key(public_exponent=65537, key_size=2048)
other_key = ec.generate_private_key(ec.SECP256R1())
small_key = rsa.generate_private_key(public_exponent=65537, key_size=1024)

root = cert("Test Root", root_key, "Test Root", root_key, True, now - day, now + 30 * day)
inter = cert("Test Intermediate", inter_key, "Test Root", root_key, True, now - day, now + 30 * day)
sans = [x509.DNSName("localhost"), x509.IPAddress(ipaddress.ip_address("127.0.0.1"))]
leaf = cert("localhost", leaf_key, "Test Intermediate", inter_key, False, now - day, now + 30 * day, sans)
expired = cert("localhost", leaf_key, "Test Intermediate", inter_key, False, now - 30 * day, now - 2 * day, sans)
selfsigned = cert("other.example", other_key, "other.example", other_key, False, now - day, now + 30 * day,
                  [x509.DNSName("other.example")])
small_cert = cert("small", small_key, "small", small_key, False, now - day, now + 30 * day)

write("root.pem", pem(root))
write("root.der", der(root))
write("inter.pem", pem(inter))
write("leaf.pem", pem(leaf))
write("leaf.der", der(leaf))
write("leaf.key.pem", leaf_key.private_bytes(serialization.Encoding.PEM, serialization.PrivateFormat.PKCS8,
                                             serialization.NoEncryption()))
write("expired.pem", pem(expired))
write("selfsigned.pem", pem(selfsigned))
write("rsa1024.key.pem", small_key.private_bytes(serialization.Encoding.PEM,
                                                 serialization.PrivateFormat.TraditionalOpenSSL,
                                                 serialization.NoEncryption()))
write("rsa1024.pub.pem", small_key.public_key().public_bytes(serialization.Encoding.PEM,
                                                             serialization.PublicFormat.SubjectPublicKeyInfo))
write("rsa1024.pub.der", small_key.public_key().public_bytes(serialization.Encoding.DER,
                                                             serialization.PublicFormat.SubjectPublicKeyInfo))
write("rsa1024.cert.der", der(small_cert))
print("ok", flush=True)
