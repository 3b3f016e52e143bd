#!/usr/bin/python3
"""Kills fxclient at chosen points of its start-up and checks that the next start on the same home
finishes what the killed one began.

    resume_check.py <fxclient binary> <scratch folder>

One loopback bank (tools/bank_server.py) serves every run: the bank's home page v2, a news page and
the quote page the bundle already has. A run is killed (SIGKILL, as a user closing the app) while
the bank holds one of its downloads ("stall"); the next run on the same --home must show the home
page v2 with every published page installed and leave no temporary file of an interrupted write.
Last, a start that lost "zipMD5" installs the bundle's pages again and must bring v2 back.
"""

import json
import os
import plistlib
import re
import shutil
import subprocess
import sys
import time
import urllib.request

TOOLS = os.path.dirname(os.path.abspath(__file__))
DEMO = os.path.join(TOOLS, "demo")


def fail(text):
    print("FAIL: " + text)
    sys.exit(1)


class Bank:
    def __init__(self, keys):
        self.process = subprocess.Popen(["/usr/bin/python3", os.path.join(TOOLS, "bank_server.py"), "--keys", keys],
                                        stdout=subprocess.PIPE, text=True)
        port = self.process.stdout.readline().strip()
        if not port:
            fail("the bank did not start")
        self.base = "http://127.0.0.1:%s" % port

    def call(self, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        with urllib.request.urlopen(urllib.request.Request(self.base + path, data=data), timeout=30) as answer:
            return json.loads(answer.read().decode())

    def control(self, command):
        return self.call("/control", command)

    def stop(self):
        self.process.terminate()
        self.process.wait()


def files_of(folder):
    files = {}
    for root, _, names in os.walk(folder):
        for name in names:
            path = os.path.join(root, name)
            with open(path, encoding="utf-8") as text:
                files[os.path.relpath(path, folder)] = text.read()
    return files


def publish(bank):
    """The bank's pages: home v2 and news v1 to download, the quote page the bundle has."""
    pages = [("html|index.html", "2", "index", "bank/index"), ("html|news.html", "1", "news", "bank/news"),
             ("html|quote.html", "1", "quote", "bundle/quote")]
    listed = []
    for url, version, folder, source in pages:
        answer = bank.control({"package": {"name": folder + ".zip", "files": files_of(os.path.join(DEMO, source))}})
        listed.append({"url": url, "version": version, "package": folder + ".zip", "hash": answer["hash"],
                       "dir": folder})
    items = [{"id": str(n), "url": url, "version": version} for n, (url, version, _, _) in enumerate(pages, 1)]
    bank.control({"files": listed, "menu": {"items": items}, "needUpdate": "auto", "manifest": {"version": "2"},
                  "handshake": "ok"})


class Client:
    def __init__(self, binary, bank, keys, work):
        self.binary, self.bank, self.keys, self.work = binary, bank, keys, work

    def start(self, name, home):
        out = os.path.join(self.work, name)
        # The runner takes only an out folder it made: its terminal output goes beside it.
        log = open(out + ".stdout.txt", "w")
        process = subprocess.Popen([self.binary, "--server", self.bank.base, "--front", self.bank.base + "/front/",
                                    "--keys", self.keys, "--home", home, "--out", out, "--timeout", "60"],
                                   stdout=log, stderr=subprocess.STDOUT)
        log.close()
        return process, out

    def run(self, name, home):
        """A whole start; answers its startup.log."""
        process, out = self.start(name, home)
        try:
            code = process.wait(timeout=180)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            fail("%s did not end" % name)
        if code != 0:
            fail("%s exited %d (see %s)" % (name, code, out))
        with open(os.path.join(out, "startup.log"), encoding="utf-8") as log:
            return log.read()

    def kill_during(self, name, home, held, also=lambda: True):
        """A start killed while the bank holds the download `held` (and `also()` holds)."""
        self.bank.control({"stall": [held]})
        process, out = self.start(name, home)
        deadline = time.monotonic() + 60
        while not (self.bank.call("/stats").get("stalled", {}).get(held) and also()):
            if process.poll() is not None:
                fail("%s ended (%d) before its download of %s" % (name, process.returncode, held))
            if time.monotonic() > deadline:
                process.kill()
                fail("%s never reached its download of %s" % (name, held))
            time.sleep(0.05)
        process.kill()
        process.wait()
        self.bank.control({"stall": []})


def business(home):
    """{page url: its item's attributes} of the business file."""
    path = os.path.join(home, "Documents", "release", "business.xml")
    if not os.path.exists(path):
        return {}
    with open(path, encoding="utf-8") as text:
        items = re.findall(r"<item ([^>]*?)/?>", text.read())
    pages = {}
    for attributes in items:
        values = dict(re.findall(r'(\w+)="([^"]*)"', attributes))
        pages.setdefault(values.get("url", ""), values)
    return pages


def leftovers(home):
    found = []
    for folder in ("Documents/release", "tmp/pylvexTmp", "Library/Preferences"):
        path = os.path.join(home, folder)
        if os.path.isdir(path):
            found += [os.path.join(folder, n) for n in os.listdir(path) if re.fullmatch(r"\..+\.write-[A-Za-z0-9]{6}", n)]
    return found


def check_complete(name, log, home):
    if "page version: version v2" not in log:
        fail("%s: the home page is not v2" % name)
    for page in ("index/main.js", "news/news.html"):
        if not os.path.isfile(os.path.join(home, "Documents", "release", page)):
            fail("%s: %s is not installed" % (name, page))
    marked = [url for url, item in business(home).items() if "update" in item]
    if marked:
        fail("%s: still marked for update: %s" % (name, marked))
    left = leftovers(home)
    if left:
        fail("%s: files of interrupted writes left: %s" % (name, left))


def main():
    binary, work = sys.argv[1], sys.argv[2]
    shutil.rmtree(work, ignore_errors=True)
    keys = os.path.join(work, "keys")
    os.makedirs(keys)
    bank = Bank(keys)
    try:
        publish(bank)
        client = Client(binary, bank, keys, work)

        # Killed at each step that waits for the bank; each next start finishes the work.
        points = [
            ("container-menu", "menu.xml", None),           # the container's menu download
            ("update-menu", "front/menu.xml", None),        # the update manager's menu download
            ("page", "index.zip", None),                    # the first page package
            ("second-page", "news.zip", "html|index.html"), # the second, once the first is in
        ]
        for name, held, installed_first in points:
            home = os.path.join(work, name + "-home")

            def first_installed(home=home, page=installed_first):
                return page is None or "update" not in business(home).get(page, {"update": "?"})
            client.kill_during(name + "-killed", home, held, first_installed)
            if held == "index.zip":
                # What the killed run left: the page marked, the new menu already the update
                # manager's, which the bank now calls current.
                if business(home).get("html|index.html", {}).get("update") != "u":
                    fail("page: the killed run left index.html unmarked")
                if not os.path.isfile(os.path.join(home, "tmp", "pylvexTmp", "menu.xml")):
                    fail("page: the killed run left no menu copy")
            log = client.run(name + "-next", home)
            check_complete(name, log, home)

        # A start that lost "zipMD5" installs the bundle's pages again; the pages of the bank come back.
        home = os.path.join(work, "page-home")
        for plist in os.listdir(os.path.join(home, "Library", "Preferences")):
            path = os.path.join(home, "Library", "Preferences", plist)
            with open(path, "rb") as f:
                defaults = plistlib.load(f)
            defaults.pop("zipMD5", None)
            with open(path, "wb") as f:
                plistlib.dump(defaults, f, fmt=plistlib.FMT_BINARY)
        log = client.run("lost-zipmd5", home)
        if not os.path.isdir(os.path.join(home, "Documents", "backup")):
            fail("lost-zipmd5: the resource package was not installed again")
        check_complete("lost-zipmd5", log, home)
    finally:
        bank.stop()
    print("resume checks passed")


if __name__ == "__main__":
    main()
