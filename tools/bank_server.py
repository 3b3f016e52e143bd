#!/usr/bin/python3
"""Loopback bank server for the container's tests and benchmarks.

Speaks the server side of the packets described in docs/packets.md with Python's own crypto
(python3-cryptography for keys, 3DES and digests; raw RSA as modular exponentiation over the key's
numbers). Binds 127.0.0.1 on a free port and prints the port on stdout.

    bank_server.py --keys DIR

DIR receives the key files (made once, whole, by the first bank that finds them missing; kept when
present, and checked: a file that is no whole key, or a pair whose halves differ, is named on stderr
and the bank exits 1):
    mwframework.der               consult-password public key (SubjectPublicKeyInfo, DER)
    mwframework_private.der       its private key (PKCS#8, DER), server only
    mwframework_sign.der          signature public key
    mwframework_sign_private.der  signature private key

POST <path>?act=...&<script>   one business request (outer packet JSON in the body)
GET  /files/<name>?size=N&chunks=K&<script>   a download of N pattern bytes (byte i is i % 251)
GET  /vcode?ctype=...          a verification picture (or a text packet with ctype=text/plain)
GET  /stats                    {"requests": total, "acts": {act: count}, "crashes": [texts],
                               "downloads": {name: count}, "stalled": {name: downloads held now},
                               "held": {act: business requests held now},
                               "handshakes": [{"path", "cookie"}]} of business requests
GET  /ports                    {"probe": port accepting and closing, "closed": a port nobody listens on}
GET  /mwframework/data/iphone/<name>   a page package or the menu file of the site (below); the
                               front-end server's /front/mwframework/data/iphone/<name> is the same

POST /control                  JSON commands that shape the site, answered with JSON:
    {"reset": true}               the site as at start (what the commands below set), before the
                                  other commands of the same call; the counts of /stats stay
    {"package": {"name", "kind", "files": {path: text}}}  builds a zip with Python's zipfile;
        kind: good, traversal, absolute, backslash, symlink, bomb, badcrc, duplicate, encrypted,
        many (10,001 entries); answers {"hash": upper SHA-256, "size", "zip": Base64 of the bytes}
    {"package": {"name", "zip": Base64}}  serves those bytes as they are (same answer)
    {"menu": {"items": [{"id", "url", "version"}]}}  the menu file served (keyed hash added)
    {"sign": {"name", "text"}}    answers {"text": the XML text with its keyed hash}
    {"files": [...]}              the file-list answer's "FILES"
    {"needUpdate": 0|1|"auto"}    the menu check's answer ("auto": 1 unless the request's "hash"
                                  is the upper-case MD5 of the menu file served)
    {"manifest": {...}}           the manifest act's "MANIFEST"
    {"handshake": "ok"|"refuse"}  a refusing key negotiation answers "RETCODE" "REFUSED"
    {"refusePath": prefix}        key negotiations under that path prefix are refused ("" none)
    {"crash": "ok"|"refuse"}      whether crash uploads are taken
    {"status": {name: code}}      answer a site file with that status instead
    {"actStatus": {act: code}}    answer every business request of that act with that status
    {"stall": [name, ...]}        hold every download of those site files ("front/<name>" for the
                                  front-end's) until a later "stall" no longer names them
    {"hold": [act, ...]}          hold every business request of those acts (unanswered) until a
                                  later "hold" no longer names them

The demo's business act "quote" with a "pair" answers {"pair", "bid", "ask"} (fixed prices); the act
"watchList" answers the demo market's watch list {"groups", "push": the push server's URL, "chart":
{"code", "name", "url": the history URL of its day series}} (tools/demo_market.py).

The demo market (tools/demo_market.py; its push server starts on first use):
GET  /kline/getGZipRateRange.shtml?code=C   the day series of pair C as a gzip rate-series packet
GET  /kline/getLastRateRange.shtml?code=C   its refresh: the last day again and one new day
GET  /market                   {"push": {"url", "series", "sent", "subscriptions", "open",
                               "quotes": {code: the current series' quote}},
                               "charts": {code: {"rows", "first", "last", "refreshed", "available"}},
                               "chartRequests": {file name: count}}
GET  /market/series?code=C     {"code", "rows": [{"date": "YYYY-MM-DD", "time", "open", "close", "low",
                               "high"}]}: the rows of pair C's day series and its refresh day, as dated
                               prices written with the series' decimal places
POST /control {"pushNext": true}  sends the next quote series to every push subscription; answers
                               {"push": {"series", "pushed", "subscribers"}}
Start-up acts (docs/resources.md): "update" (manifest), "updateMenu" (menu check), "fileList",
"PEMBCRLG" (crash report under "CRASHLOG"). The keyed file hash uses the key file
"mwframework_license" of DIR (made on first use).

Script parameters (any request): status=<code> answers that status (body "status <code>" unless
204/304); delay=<seconds> waits first; drop=1 closes the connection without an answer;
body=empty|garbage answers 200 with that body; sessionState=<v>, serviceNumber=<v>, needva=<v>
set those headers; crypt=<flag> answers with that crypt flag; hash=1, sign=1 add hash/signature;
cookie=0 sets no session cookie.
"""

import base64
import fcntl
import hashlib
import hmac
import io
import socket
import stat
import zipfile
import zlib
import json
import os
import secrets
import sys
import tempfile
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import demo_market  # noqa: E402 - beside this file

from cryptography.exceptions import UnsupportedAlgorithm
from cryptography.hazmat.primitives import padding, serialization
from cryptography.hazmat.primitives.asymmetric import rsa
from cryptography.hazmat.primitives.ciphers import Cipher, modes

try:  # newer releases keep 3DES among the "decrepit" ciphers
    from cryptography.hazmat.decrepit.ciphers.algorithms import TripleDES
except ImportError:
    import warnings
    warnings.filterwarnings("ignore", message=".*TripleDES.*")
    from cryptography.hazmat.primitives.ciphers.algorithms import TripleDES

MAX_BODY = 16 * 1024 * 1024


# ---------------------------------------------------------------- keys and raw RSA

class KeyFileError(Exception):
    """A key file of the keys folder that cannot be used: one line naming it and what to do."""


# Seconds a bank waits for another one that is making the keys folder's files (for milliseconds).
KEY_LOCK_WAIT = 10
KEY_LOCK_NAME = ".bank-keys.lock"
# Far more than any key file or license of the folder holds.
KEY_FILE_LIMIT = 64 * 1024
KEY_PART_SUFFIX = ".part"


class KeyFolder:
    """The key files of DIR, made once and whole.

    What is missing is made under the folder's lock (a file of its own there, taken only when
    something is missing), each file written beside its name and renamed into place once whole,
    and only while its name is still free: every bank started with the folder, however many start
    together, reads the same keys, a bank killed while it writes leaves no cut key, and a file that
    is there (the user's) is never written over."""

    PAIRS = (("mwframework.der", "mwframework_private.der"),
             ("mwframework_sign.der", "mwframework_sign_private.der"))
    LICENSE = "mwframework_license"

    def __init__(self, directory):
        self.directory = directory

    def path(self, name):
        return os.path.join(self.directory, name)

    def missing(self):
        names = [name for pair in self.PAIRS for name in pair] + [self.LICENSE]
        return [name for name in names if not os.path.lexists(self.path(name))]

    def make_missing(self):
        if not self.missing():
            return
        lock_path = self.path(KEY_LOCK_NAME)
        try:
            lock = os.open(lock_path, os.O_RDWR | os.O_CREAT | os.O_NOFOLLOW | os.O_CLOEXEC, 0o600)
        except OSError as e:
            raise KeyFileError(f"the keys folder {self.directory} cannot be written ({lock_path}: "
                               f"{e.strerror}): give a folder you can write into") from None
        try:
            until = time.monotonic() + KEY_LOCK_WAIT
            while True:
                try:
                    fcntl.flock(lock, fcntl.LOCK_EX | fcntl.LOCK_NB)
                    break
                except BlockingIOError:
                    if time.monotonic() >= until:
                        raise KeyFileError(f"the keys folder {self.directory} stayed locked for {KEY_LOCK_WAIT} s "
                                           f"({lock_path}): another bank stopped while it made the keys; "
                                           "let it go on or end, then try again") from None
                    time.sleep(0.01)
            # Under the lock: what a bank killed while it wrote left beside its names goes, and what
            # another bank made meanwhile is taken as it is.
            for name in os.listdir(self.directory):
                if name.startswith(".mwframework") and name.endswith(KEY_PART_SUFFIX):
                    try:
                        os.unlink(self.path(name))
                    except FileNotFoundError:
                        pass
            for public_name, private_name in self.PAIRS:
                private_there = os.path.lexists(self.path(private_name))
                if not private_there and os.path.lexists(self.path(public_name)):
                    raise KeyFileError(f"the key file {self.path(public_name)} has no private key beside it "
                                       f"({self.path(private_name)}): give both or remove it, and a new pair "
                                       "is made at the next start")
                key = self.private_key(private_name) if private_there else \
                    rsa.generate_private_key(public_exponent=65537, key_size=1024)
                if not private_there:
                    self.write_whole(private_name, key.private_bytes(
                        serialization.Encoding.DER, serialization.PrivateFormat.PKCS8,
                        serialization.NoEncryption()), 0o600)
                if not os.path.lexists(self.path(public_name)):
                    self.write_whole(public_name, key.public_key().public_bytes(
                        serialization.Encoding.DER, serialization.PublicFormat.SubjectPublicKeyInfo), 0o644)
            if not os.path.lexists(self.path(self.LICENSE)):
                self.write_whole(self.LICENSE, secrets.token_bytes(64), 0o600)
        finally:
            os.close(lock)

    def write_whole(self, name, data, mode):
        """Writes NAME beside it, then renames it into place (the lock is held: the name is free)."""
        fd, part = tempfile.mkstemp(prefix="." + name + ".", suffix=KEY_PART_SUFFIX, dir=self.directory)
        try:
            os.fchmod(fd, mode)
            with os.fdopen(fd, "wb") as f:
                f.write(data)
                f.flush()
                os.fsync(f.fileno())
            os.rename(part, self.path(name))
        except BaseException:
            try:
                os.unlink(part)
            except OSError:
                pass
            raise

    def read(self, name, remedy):
        """The bytes of a regular file of at most KEY_FILE_LIMIT (a FIFO or a device is never read)."""
        try:
            with open(os.open(self.path(name), os.O_RDONLY | os.O_NONBLOCK | os.O_CLOEXEC), "rb") as f:
                if not stat.S_ISREG(os.fstat(f.fileno()).st_mode):
                    raise KeyFileError(f"the key file {self.path(name)} is no regular file: {remedy}")
                data = f.read(KEY_FILE_LIMIT + 1)
        except OSError as e:
            raise KeyFileError(f"the key file {self.path(name)} cannot be read ({e.strerror}): "
                               f"make it readable, or {remedy}") from None
        if len(data) > KEY_FILE_LIMIT:
            raise KeyFileError(f"the key file {self.path(name)} is larger than any key: {remedy}")
        return data

    def private_key(self, private_name):
        public_name = next(pub for pub, priv in self.PAIRS if priv == private_name)
        remedy = f"remove it and {self.path(public_name)}, and a new pair is made at the next start"
        data = self.read(private_name, remedy)
        try:
            key = serialization.load_der_private_key(data, password=None)
        except (ValueError, TypeError, UnsupportedAlgorithm):
            key = None
        if not isinstance(key, rsa.RSAPrivateKey):
            raise KeyFileError(f"the key file {self.path(private_name)} is no whole RSA private key "
                               f"(cut, empty or not DER): {remedy}")
        return key

    def pair(self, public_name, private_name):
        """The private key of a pair, checked against its public key, which the client is given."""
        key = self.private_key(private_name)
        remedy = f"remove it, and it is made again from {self.path(private_name)} at the next start"
        data = self.read(public_name, remedy)
        try:
            public = serialization.load_der_public_key(data)
        except (ValueError, TypeError, UnsupportedAlgorithm):
            public = None
        if not isinstance(public, rsa.RSAPublicKey):
            raise KeyFileError(f"the key file {self.path(public_name)} is no whole RSA public key "
                               f"(cut, empty or not DER): {remedy}")
        if public.public_numbers() != key.public_key().public_numbers():
            raise KeyFileError(f"the key file {self.path(public_name)} does not belong to "
                               f"{self.path(private_name)}: {remedy}")
        return key

    def license(self):
        return self.read(self.LICENSE, "remove it, and a new one is made at the next start")


class RawRsa:
    """Raw RSA (no padding) in the packet's block layout: chunks of B - 12 bytes, blocks of B."""

    def __init__(self, private_key):
        numbers = private_key.private_numbers()
        self.n = numbers.public_numbers.n
        self.e = numbers.public_numbers.e
        self.d = numbers.d
        self.block = (self.n.bit_length() + 7) // 8

    def _apply(self, data, exponent, chunk):
        out = bytearray()
        for i in range(0, len(data), chunk):
            number = int.from_bytes(data[i:i + chunk], "big")
            if number >= self.n:
                raise ValueError("block above modulus")
            out += pow(number, exponent, self.n).to_bytes(self.block, "big")
        return bytes(out)

    def _strip(self, data, exponent):
        out = bytearray()
        for i in range(0, len(data), self.block):
            number = int.from_bytes(data[i:i + self.block], "big")
            if number >= self.n:
                raise ValueError("block above modulus")
            value = pow(number, exponent, self.n)
            out += value.to_bytes((value.bit_length() + 7) // 8, "big")
        return bytes(out)

    def private_encrypt(self, data):
        return self._apply(data, self.d, self.block - 12)

    def private_decrypt(self, data):
        return self._strip(data, self.d)

    def public_decrypt(self, data):
        return self._strip(data, self.e)


# ---------------------------------------------------------------- 3DES session keys

def session_keys(client_random, server_random):
    up = hashlib.sha256(client_random + server_random.encode()).digest()[:24]
    down = hashlib.sha256(server_random.encode() + client_random).digest()[:24]
    return up, down


def des3_encrypt(key, data):
    iv = secrets.token_bytes(8)
    padder = padding.PKCS7(64).padder()
    padded = padder.update(data) + padder.finalize()
    enc = Cipher(TripleDES(key), modes.CBC(iv)).encryptor()
    return iv + enc.update(padded) + enc.finalize()


def des3_decrypt(key, data):
    if len(data) < 16 or len(data) % 8:
        raise ValueError("bad 3DES length")
    dec = Cipher(TripleDES(key), modes.CBC(data[:8])).decryptor()
    padded = dec.update(data[8:]) + dec.finalize()
    unpadder = padding.PKCS7(64).unpadder()
    return unpadder.update(padded) + unpadder.finalize()


# ---------------------------------------------------------------- keyed file hash and packages

def named_key(license_bytes, name):
    return hmac.new(license_bytes, name.encode(), hashlib.sha256).hexdigest().upper()


def sign_xml(license_bytes, name, text):
    """Inserts ' hash="HEX"' right after the root element's name (docs/resources.md)."""
    digest = hashlib.sha256(text.encode() + named_key(license_bytes, name).encode()).hexdigest().upper()
    pos = 0
    while True:
        pos = text.index("<", pos)
        if text.startswith("<!--", pos):
            pos = text.index("-->", pos)
            continue
        if text[pos + 1] in "?!":
            pos = text.index(">", pos)
            continue
        end = pos + 1
        while end < len(text) and not text[end].isspace() and text[end] not in "/>":
            end += 1
        return text[:end] + ' hash="%s"' % digest + text[end:]


def xml_escape(value):
    return (value.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")
            .replace('"', "&quot;"))


def menu_text(items):
    body = "".join('<item id="%s" url="%s" version="%s"/>' % (xml_escape(i.get("id", "")),
                                                             xml_escape(i.get("url", "")),
                                                             xml_escape(i.get("version", "")))
                   for i in items)
    return '<?xml version="1.0" encoding="UTF-8"?>\n<menus>%s</menus>\n' % body


def make_package(kind, files):
    out = io.BytesIO()
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as zf:
        for path, text in sorted(files.items()):  # fixed order and date: the same files, the same bytes
            info = zipfile.ZipInfo(path, date_time=(2026, 1, 1, 0, 0, 0))
            info.compress_type = zipfile.ZIP_DEFLATED
            zf.writestr(info, text)
        if kind == "traversal":
            zf.writestr("../escaped.html", "outside")
        elif kind == "absolute":
            zf.writestr("/tmp/absolute.html", "outside")
        elif kind == "backslash":
            zf.writestr("sub\\..\\..\\escaped.html", "outside")
        elif kind == "symlink":
            info = zipfile.ZipInfo("link")
            info.create_system = 3
            info.external_attr = (stat.S_IFLNK | 0o777) << 16
            zf.writestr(info, "/etc")
        elif kind == "bomb":
            zf.writestr("bomb.bin", b"\0" * (129 * 1024 * 1024))
        elif kind == "duplicate":
            import warnings
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")
                first = next(iter(files))
                zf.writestr(first, "again")
        elif kind == "many":
            for i in range(10001):
                zf.writestr("m/%d" % i, "")
    data = bytearray(out.getvalue())
    if kind == "badcrc":
        # Flip the stored CRC of the first entry in both headers.
        with zipfile.ZipFile(io.BytesIO(bytes(data))) as zf:
            info = zf.infolist()[0]
        good = info.CRC.to_bytes(4, "little")
        bad = (info.CRC ^ 0xFFFFFFFF).to_bytes(4, "little")
        data = bytearray(bytes(data).replace(good, bad))
    if kind == "encrypted":
        # Set the "encrypted" bit of every local and central header.
        for signature, offset in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
            pos = bytes(data).find(signature)
            while pos >= 0:
                data[pos + offset] |= 1
                pos = bytes(data).find(signature, pos + 4)
    return bytes(data)


# ---------------------------------------------------------------- server state

class Bank:
    def __init__(self, keys_dir):
        keys = KeyFolder(keys_dir)
        keys.make_missing()
        self.consult = RawRsa(keys.pair("mwframework.der", "mwframework_private.der"))
        self.signer = RawRsa(keys.pair("mwframework_sign.der", "mwframework_sign_private.der"))
        self.lock = threading.Lock()
        self.sessions = {}  # session id -> {"client": bytes, "server": str, "login": bool}
        self.requests = 0
        self.acts = {}
        self.license = keys.license()
        self.downloads = {}
        self.handshakes = []
        self.crashes = []
        self.stalled = {}     # name -> downloads held now
        self.stall_changed = threading.Condition(self.lock)
        self.held = {}        # act -> business requests held now
        self.reset_site()
        self.push = None  # the demo market's push server, started on first use
        self.chart_requests = {}

    def reset_site(self):
        """What the "control" commands shape, as at start (the counts and the sessions stay)."""
        self.site = {}        # file name -> bytes under /mwframework/data/iphone/
        self.site_status = {}
        self.files = []
        self.need_update = 0
        self.manifest = {"version": "1.0", "resource": "resource.json"}
        self.handshake = "ok"
        self.refuse_path = ""
        self.crash = "ok"
        self.act_status = {}  # act -> HTTP status answered instead of the business answer
        self.stalls = set()   # site file names whose downloads are held
        self.holds = set()    # acts whose business requests are held

    def count(self, act):
        with self.lock:
            self.requests += 1
            self.acts[act] = self.acts.get(act, 0) + 1

    def stats(self):
        with self.lock:
            return {"requests": self.requests, "acts": dict(self.acts), "crashes": list(self.crashes),
                    "downloads": dict(self.downloads), "handshakes": list(self.handshakes),
                    "stalled": {name: n for name, n in self.stalled.items() if n},
                    "held": {act: n for act, n in self.held.items() if n}}

    def hold_while_named(self, act):
        """Holds a business request of the act while a "hold" names it."""
        with self.lock:
            if act not in self.holds:
                return
            self.held[act] = self.held.get(act, 0) + 1
            while act in self.holds:
                self.stall_changed.wait()
            self.held[act] -= 1

    def push_server(self):
        with self.lock:
            if self.push is None:
                self.push = demo_market.Push()
            return self.push

    def market(self):
        with self.lock:
            requests = dict(self.chart_requests)
        return {"push": self.push_server().facts(), "chartRequests": requests,
                "charts": {code: demo_market.series_facts(code) for _, code, *_ in demo_market.PAIRS}}

    def chart_packet(self, name, code):
        """The day series (or its refresh) of a pair, or None for an unknown pair."""
        if not demo_market.pair(code):
            return None
        with self.lock:
            self.chart_requests[name] = self.chart_requests.get(name, 0) + 1
        if name == "getLastRateRange.shtml":
            return demo_market.refresh_packet(code)
        return demo_market.history_packet(code)

    def watch_list(self, host):
        code, name = "USDCNY", "USD/CNY"
        return {"RETCODE": "AAAAAAA", "RETMSG": "", "groups": demo_market.watch_list(),
                "push": "ws://127.0.0.1:%d" % self.push_server().port,
                "chart": {"code": code, "name": name,
                          "url": "http://%s/kline/getGZipRateRange.shtml?code=%s&type=6&available=%d"
                                 % (host, code, demo_market.AVAILABLE)}}

    def control(self, command):
        answer = {}
        with self.lock:
            if command.get("reset"):  # first, so that the other commands apply to the site at start
                self.reset_site()
                self.stall_changed.notify_all()
            if "package" in command:
                wanted = command["package"]
                data = (base64.b64decode(wanted["zip"]) if "zip" in wanted  # served as it is
                        else make_package(wanted.get("kind", "good"), wanted.get("files", {})))
                self.site[wanted["name"]] = data
                answer.update({"hash": hashlib.sha256(data).hexdigest().upper(), "size": len(data),
                               "zip": base64.b64encode(data).decode()})
            if "menu" in command:
                self.site["menu.xml"] = sign_xml(self.license, "menu.xml",
                                                 menu_text(command["menu"].get("items", []))).encode()
            if "sign" in command:
                answer["text"] = sign_xml(self.license, command["sign"]["name"], command["sign"]["text"])
            if "files" in command:
                self.files = command["files"]
            if "needUpdate" in command:
                self.need_update = command["needUpdate"]
            if "manifest" in command:
                self.manifest = command["manifest"]
            if "handshake" in command:
                self.handshake = command["handshake"]
            if "refusePath" in command:
                self.refuse_path = command["refusePath"]
            if "crash" in command:
                self.crash = command["crash"]
            if "status" in command:
                self.site_status.update(command["status"])
            if "actStatus" in command:
                self.act_status.update(command["actStatus"])
            if "stall" in command:
                self.stalls = set(command["stall"])
                self.stall_changed.notify_all()
            if "hold" in command:
                self.holds = set(command["hold"])
                self.stall_changed.notify_all()
        if command.get("pushNext"):
            answer["push"] = self.push_server().next_series()
        return answer

    def act_answer(self, act, business):
        """The business answer of a start-up act, or None for the generic echo."""
        if act == "update":
            return {"RETCODE": "AAAAAAA", "RETMSG": "", "MANIFEST": self.manifest}
        if act == "updateMenu":
            need = self.need_update
            if need == "auto":  # 1 when the client's hash is not the MD5 of the menu served
                with self.lock:
                    menu = self.site.get("menu.xml", b"")
                asked = business.get("hash", "") if isinstance(business, dict) else ""
                need = 0 if asked == hashlib.md5(menu).hexdigest().upper() else 1
            return {"RETCODE": "AAAAAAA", "RETMSG": "", "needUpdate": need}
        if act == "quote" and isinstance(business, dict) and "pair" in business:  # the demo's price
            return {"RETCODE": "AAAAAAA", "RETMSG": "", "pair": business["pair"], "bid": "7.1012", "ask": "7.1046"}
        if act == "fileList":
            return {"RETCODE": "AAAAAAA", "RETMSG": "", "FILES": self.files}
        if act == "PEMBCRLG":
            if self.crash != "ok":
                return {"RETCODE": "REFUSED", "RETMSG": "not taken"}
            with self.lock:
                self.crashes.append(business.get("CRASHLOG", ""))
            return {"RETCODE": "AAAAAAA", "RETMSG": ""}
        return None

    # -- packets

    def decode_business(self, inner, session):
        crypt = inner.get("cryptFlag", 0)
        text = inner.get("business")
        if text is None:
            return b""
        if inner.get("hashFlag", 0) == 1:
            if (inner.get("hash") or "").upper() != hashlib.sha1(text.encode()).hexdigest().upper():
                raise ValueError("hash mismatch")
        if inner.get("signFlag", 0) == 1:
            sig = self.signer.public_decrypt(base64.b64decode(inner.get("sign") or ""))
            if sig.lstrip(b"\0") != hashlib.sha1(text.encode()).digest().lstrip(b"\0"):
                raise ValueError("signature mismatch")
        if crypt == 0:
            return text.encode()
        raw = base64.b64decode(text, validate=True)
        if crypt == 1:
            if session is None:
                raise LookupError("no session")
            up, _ = session_keys(session["client"], session["server"])
            return des3_decrypt(up, raw)
        if crypt == 4:
            return self.consult.private_decrypt(raw)
        raise ValueError("unknown crypt flag")

    def encode_business(self, payload, crypt, session, with_hash, with_sign):
        if crypt == 0:
            text = payload.decode()
        elif crypt == 1:
            _, down = session_keys(session["client"], session["server"])
            text = base64.b64encode(des3_encrypt(down, payload)).decode()
        elif crypt == 4:
            text = base64.b64encode(self.consult.private_encrypt(payload)).decode()
        else:
            text = payload.decode()
        inner = {"cryptFlag": crypt, "hashFlag": 1 if with_hash else 0,
                 "signFlag": 1 if with_sign else 0, "business": text}
        digest = hashlib.sha1(text.encode())
        if with_hash:
            inner["hash"] = digest.hexdigest().upper()
        if with_sign:
            inner["sign"] = base64.b64encode(self.signer.private_encrypt(digest.digest())).decode()
        return {"flag": 0, "errCode": 0, "errMsg": "", "data": inner}


# ---------------------------------------------------------------- HTTP

class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # Clients that hang up (cancelled requests) are part of the tests.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    disable_nagle_algorithm = True
    bank = None

    def log_message(self, fmt, *args):
        pass

    def _script(self):
        parts = urlsplit(self.path)
        query = {k: v[-1] for k, v in parse_qs(parts.query, keep_blank_values=True).items()}
        return parts.path, query

    def _send(self, status, body=b"", headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        if status not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        if status not in (204, 304) and body:
            self.wfile.write(body)
        self.wfile.flush()

    def _pre_script(self, query):
        """Applies delay/drop/status. Returns True when the request is fully answered."""
        if "delay" in query:
            time.sleep(float(query["delay"]))
        if query.get("drop") == "1":
            self.close_connection = True
            try:
                import socket
                self.connection.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return True
        status = int(query.get("status", "200"))
        if status != 200:
            self._send(status, b"" if status in (204, 304) else ("status %d" % status).encode(),
                       [("Content-Type", "text/plain")])
            return True
        if query.get("body") == "empty":
            self._send(200, b"", [("Content-Type", "text/plain")])
            return True
        if query.get("body") == "garbage":
            self._send(200, b"<html>not a packet</html>", [("Content-Type", "text/html")])
            return True
        return False

    def _session_id(self):
        cookie = self.headers.get("Cookie") or ""
        for part in cookie.split(";"):
            name, _, value = part.strip().partition("=")
            if name == "JSESSIONID":
                return value.split(":")[0]
        return None

    def _read_body(self):
        length = int(self.headers.get("Content-Length") or 0)
        if length > MAX_BODY:
            return None
        return self.rfile.read(length) if length else b""

    def do_GET(self):
        path, query = self._script()
        if self._read_body() is None:  # a GET may carry a body too: it must not stay in the stream
            self._send(413, b"too large")
            return
        if path == "/ports":
            self._send(200, json.dumps(PORTS).encode(), [("Content-Type", "application/json")])
            return
        front = path.startswith(FRONT_PREFIX)
        if front:  # the front-end server serves the same site
            path = path[len("/front"):]
        if path.startswith(SITE_PREFIX):
            name = path[len(SITE_PREFIX):]
            bank = self.bank
            with bank.lock:
                held = ("front/" if front else "") + name
                if held in bank.stalls:  # until a "stall" no longer names it; then what is served then
                    bank.stalled[held] = bank.stalled.get(held, 0) + 1
                    while held in bank.stalls:
                        bank.stall_changed.wait()
                    bank.stalled[held] -= 1
                data = bank.site.get(name)
                status = int(bank.site_status.get(name, 200))
                bank.downloads[name] = bank.downloads.get(name, 0) + 1
            if data is None:
                self._send(404, b"no such file", [("Content-Type", "text/plain")])
            else:
                self._send(status, data if status == 200 else b"refused",
                           [("Content-Type", "application/octet-stream")])
            return
        if path == "/stats":
            self._send(200, json.dumps(self.bank.stats()).encode(), [("Content-Type", "application/json")])
            return
        if path == "/market":
            self._send(200, json.dumps(self.bank.market()).encode(), [("Content-Type", "application/json")])
            return
        if path == "/market/series":
            code = query.get("code", "")
            if not demo_market.pair(code):
                self._send(404, b"no such series", [("Content-Type", "text/plain")])
            else:
                self._send(200, json.dumps({"code": code, "rows": demo_market.series_rows(code)}).encode(),
                           [("Content-Type", "application/json")])
            return
        if path.startswith("/kline/"):
            packet = self.bank.chart_packet(path[len("/kline/"):], query.get("code", ""))
            if packet is None:
                self._send(404, b"no such series", [("Content-Type", "text/plain")])
            else:
                self._send(200, packet, [("Content-Type", "application/octet-stream")])
            return
        if self._pre_script(query):
            return
        if path == "/vcode":
            ctype = query.get("ctype", "image/png")
            if ctype.lower() == "text/plain":
                packet = self.bank.encode_business(
                    json.dumps({"RETCODE": "AAAAAAA", "RETMSG": "ok"}).encode(), 0, None, False, False)
                self._send(200, json.dumps(packet).encode(), [("Content-Type", ctype)])
            else:
                self._send(200, b"\x89PNG\r\n\x1a\nfake", [("Content-Type", ctype)])
            return
        if path.startswith("/files/"):
            size = int(query.get("size", "1000"))
            chunks = max(1, int(query.get("chunks", "1")))
            data = bytes(i % 251 for i in range(size))
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            step = max(1, (size + chunks - 1) // chunks)
            for i in range(0, size, step):
                self.wfile.write(data[i:i + step])
                self.wfile.flush()
                if chunks > 1 and "pause" in query:
                    time.sleep(float(query["pause"]))
            return
        self._send(404, b"no such file", [("Content-Type", "text/plain")])

    def do_POST(self):
        path, query = self._script()
        body = self._read_body()
        if body is None:
            self._send(413, b"too large")
            return
        if path == "/control":
            answer = self.bank.control(json.loads(body.decode()))
            self._send(200, json.dumps(answer).encode(), [("Content-Type", "application/json")])
            return
        act = query.get("act", path.strip("/"))
        self.bank.count(act)
        self.bank.hold_while_named(act)
        if self._pre_script(query):
            return
        with self.bank.lock:
            refused = int(self.bank.act_status.get(act, 200))
        if refused != 200:
            self._send(refused, ("status %d" % refused).encode(), [("Content-Type", "text/plain")])
            return
        headers = [("Content-Type", "application/json; charset=utf-8")]
        sid = self._session_id()
        bank = self.bank
        with bank.lock:
            session = bank.sessions.get(sid) if sid else None
        try:
            outer = json.loads(body.decode())
            inner = outer.get("data") or {}
            crypt = inner.get("cryptFlag", 0)
            payload = bank.decode_business(inner, session)
            business = json.loads(payload.decode()) if payload else {}
        except LookupError:
            headers.append(("sessionState", query.get("sessionState", "3")))
            packet = bank.encode_business(
                json.dumps({"RETCODE": "SESSIONTIMEOUT", "RETMSG": "no session"}).encode(), 0, None, False, False)
            self._send(200, json.dumps(packet).encode(), headers)
            return
        except Exception as error:  # noqa: BLE001 - any malformed request is a 400
            self._send(400, ("bad packet: %s" % error).encode(), [("Content-Type", "text/plain")])
            return

        answer = {"RETCODE": "AAAAAAA", "RETMSG": "", "ACT": act, "ECHO": business}
        state = "1"
        if act == "handshake":
            with bank.lock:
                bank.handshakes.append({"path": path, "cookie": self.headers.get("Cookie") or ""})
                refused = bank.handshake != "ok" or (bank.refuse_path != "" and path.startswith(bank.refuse_path))
        if act == "handshake" and refused:
            answer = {"RETCODE": "REFUSED", "RETMSG": "refused"}
        elif act == "handshake":
            client = bytes.fromhex(business.get("CLIENTRANDOM", ""))
            server_random = secrets.token_hex(12)
            sid = secrets.token_hex(8)
            session = {"client": client, "server": server_random, "login": False}
            with bank.lock:
                bank.sessions[sid] = session
            headers.append(("Service-Number", query.get("serviceNumber", server_random)))
            if query.get("cookie", "1") != "0":
                headers.append(("Set-Cookie", "JSESSIONID=%s:node1; Path=/" % sid))
            answer.update({"UUIDKEY": "UUID-" + sid, "SYSPARAM": {"version": "1.0"}})
            del answer["ECHO"]
        elif session is not None and act == "watchList":
            answer = bank.watch_list(self.headers.get("Host") or "127.0.0.1")
        elif session is not None:
            special = bank.act_answer(act, business)
            if special is not None:
                answer = special
            if act == "login":
                session["login"] = True
            elif act == "logout":
                session["login"] = False
            state = "100" if session["login"] else "1"
        if "serviceNumber" in query and act != "handshake":
            headers.append(("Service-Number", query["serviceNumber"]))
        headers.append(("sessionState", query.get("sessionState", state)))
        if "needva" in query:
            headers.append(("NEEDVA", query["needva"]))
        out_crypt = int(query.get("crypt", crypt))
        if out_crypt == 1 and session is None:
            out_crypt = 0
        packet = bank.encode_business(json.dumps(answer, ensure_ascii=False).encode(), out_crypt, session,
                                      query.get("hash") == "1", query.get("sign") == "1")
        self._send(200, json.dumps(packet, ensure_ascii=False).encode(), headers)


SITE_PREFIX = "/mwframework/data/iphone/"
FRONT_PREFIX = "/front" + SITE_PREFIX
PORTS = {}


def start_probe_ports():
    """A port that accepts and closes every connection (the network probe's), and a closed one."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    closed = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    closed.bind(("127.0.0.1", 0))
    PORTS["probe"] = listener.getsockname()[1]
    PORTS["closed"] = closed.getsockname()[1]

    def serve():
        while True:
            conn, _ = listener.accept()
            conn.close()

    threading.Thread(target=serve, daemon=True).start()
    start_probe_ports.keep = (listener, closed)  # the bound, never listening socket keeps its port


def main():
    keys = None
    args = sys.argv[1:]
    if len(args) == 2 and args[0] == "--keys":
        keys = args[1]
    if not keys:
        print("usage: bank_server.py --keys DIR", file=sys.stderr)
        return 2
    try:
        os.makedirs(keys, exist_ok=True)
        Handler.bank = Bank(keys)
    except KeyFileError as e:  # one line that says what to do, not a traceback
        print(f"bank_server.py: {e}", file=sys.stderr)
        return 1
    except OSError as e:
        print(f"bank_server.py: the keys folder {keys} cannot be used: {e}", file=sys.stderr)
        return 1
    server = Server(("127.0.0.1", 0), Handler)
    start_probe_ports()
    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.05)
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
