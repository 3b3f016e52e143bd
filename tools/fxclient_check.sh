#!/usr/bin/env bash
# Runs fxclient through its scenarios and checks what each leaves behind.
#   fxclient_check.sh <fxclient binary> <scratch folder>
set -euo pipefail
client=$1
work=$2
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }

# A first start installs the bank's pages and every bridge call of the first page answers.
"$client" --out "$work/a" --keys "$work/keys" >"$work/a.txt" || fail "first start exited $?"
grep -q "page version: version v2" "$work/a/startup.log" || fail "v2 not installed"
grep -q "page quote: quote: USD/CNY" "$work/a/startup.log" || fail "the quote call did not answer"
grep -q "page store: store get: " "$work/a/startup.log" || fail "the store calls did not answer"
for png in launch downloading launch-animation first-page; do
  [ -s "$work/a/$png.png" ] || fail "no $png.png"
done

# A second start on the same home downloads nothing.
"$client" --out "$work/b" --keys "$work/keys" --home "$work/a/home" >"$work/b.txt" || fail "second start exited $?"
grep -q "update: page download " "$work/b/startup.log" && fail "the second start downloaded pages"
grep -q "page version: version v2" "$work/b/startup.log" || fail "v2 gone on the second start"

# A broken package leaves the bundle's page as it was.
"$client" --out "$work/c" --keys "$work/keys" --scenario broken-package >"$work/c.txt" || fail "broken-package exited $?"
grep -q "page version: version v1" "$work/c/startup.log" || fail "a broken package changed the page"
cmp -s "$work/c/home/Documents/release/index/main.js" "$(dirname "$0")/demo/bundle/index/main.js" || \
  fail "a broken package changed the page's files"
[ -e "$work/c/home/Documents/release/news" ] && fail "a package under a wrong hash was installed"
# The next good start installs it.
"$client" --out "$work/c2" --keys "$work/keys" --home "$work/c/home" >"$work/c2.txt" || fail "good start after a broken one exited $?"
grep -q "page version: version v2" "$work/c2/startup.log" || fail "the good start after a broken one did not install v2"
[ -s "$work/c/home/Documents/release/news/news.html" ] || fail "the good start after a broken one did not install news"

# A refused key negotiation exits 1 and shows why.
set +e
"$client" --out "$work/d" --keys "$work/keys" --scenario handshake-fail >"$work/d.txt"
code=$?
set -e
[ "$code" -eq 1 ] || fail "handshake-fail exited $code"
[ -s "$work/d/stopped.png" ] || fail "no stopped.png"

# A bank that has what the bundle has: nothing to download.
"$client" --out "$work/f" --keys "$work/keys" --scenario current >"$work/f.txt" || fail "current exited $?"
grep -q "update: page download " "$work/f/startup.log" && fail "the current scenario downloaded pages"
grep -q "page version: version v1" "$work/f/startup.log" || fail "the current scenario changed the page"

# Two virtual runs draw the same screens.
"$client" --out "$work/e" --keys "$work/keys" >"$work/e.txt" || fail "repeat start exited $?"
for png in launch launch-animation first-page; do
  cmp -s "$work/a/$png.png" "$work/e/$png.png" || fail "$png.png differs between two virtual runs"
done
echo "fxclient scenarios passed"
