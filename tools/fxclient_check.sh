#!/usr/bin/env bash
# Runs fxclient through its options and every scenario, and checks what each leaves behind: the
# log, the exit code and what the PNGs show.
#   fxclient_check.sh <fxclient binary> <scratch folder>
set -euo pipefail
client=$1
work=$2
tools=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }
probe() { /usr/bin/python3 "$tools/png_probe.py" "$@" || fail "$1 ${*:2}"; }
# run NAME EXPECTED-EXIT [fxclient options]: the exit code must be the expected one.
run() {
  local name=$1 expected=$2
  shift 2
  set +e
  "$client" --out "$work/$name" --keys "$work/keys" "$@" >"$work/$name.txt" 2>&1
  local code=$?
  set -e
  [ "$code" -eq "$expected" ] || fail "$name ($*) exited $code, not $expected"
}
logged() { grep -qF -- "$2" "$work/$1/startup.log"; }

# Bad options get the usage and 64, before anything starts.
for bad in "--timeout abc" "--timeout 0" "--timeout inf" "--scenario bogus" "--time later" "--out" "--colour red" \
           "--server notaurl" "--front ftp://127.0.0.1/"; do
  set +e
  # shellcheck disable=SC2086
  "$client" $bad --out "$work/bad" >"$work/bad.txt" 2>&1
  code=$?
  set -e
  [ "$code" -eq 64 ] || fail "fxclient $bad exited $code, not 64"
  grep -q "^usage: fxclient" "$work/bad.txt" || fail "fxclient $bad printed no usage"
  [ -e "$work/bad" ] && fail "fxclient $bad started anyway"
done
"$client" --help | grep -q "menu-check-fail" || fail "--help does not list the scenarios"

# A first start installs the bank's pages and every bridge call of the first page answers.
run a 0
logged a "page version: version v2" || fail "v2 not installed"
logged a "page quote: quote: USD/CNY" || fail "the quote call did not answer"
logged a "page store: store get: " || fail "the store calls did not answer"
head -1 "$work/a/startup.log" | grep -q '^\[v    0\.000 |' || fail "the first line's virtual time is not 0: $(head -1 "$work/a/startup.log")"
logged a "share answer scheme qxfxclient: one of ours" || fail "the bundle does not declare the share answers' scheme"
probe overlay "$work/a/launch.png"
probe overlay "$work/a/downloading.png"
probe not-blank "$work/a/first-page.png"
[ -s "$work/a/launch-animation.png" ] || fail "no launch-animation.png"

# The same in real time: the launch screen is taken once its overlay stands.
run r 0 --time real
probe overlay "$work/r/launch.png"
probe not-blank "$work/r/first-page.png"

# A second start on the same home downloads nothing.
run b 0 --home "$work/a/home"
logged b "update: page download " && fail "the second start downloaded pages"
logged b "page version: version v2" || fail "v2 gone on the second start"

# --page: a page that opens is taken; one that cannot open exits 4 with the page host's error.
run p 0 --page news/news.html
logged p "page loaded $work/p/home/Documents/release/news/news.html" || fail "--page news did not load"
probe not-blank "$work/p/page.png"
run q 4 --page nothere.html --timeout 30
logged q "page nothere.html did not open: NSURLErrorDomain -1100" || fail "no error code for a missing --page"
[ -e "$work/q/page.png" ] && fail "a page that did not open was taken"
run q2 4 --page ../../outside.html --timeout 30
logged q2 "did not open: NSURLErrorDomain -1102" || fail "no error code for a --page outside the page tree"

# A broken package leaves the bundle's page as it was.
run c 0 --scenario broken-package
logged c "page version: version v1" || fail "a broken package changed the page"
cmp -s "$work/c/home/Documents/release/index/main.js" "$tools/demo/bundle/index/main.js" || \
  fail "a broken package changed the page's files"
[ -e "$work/c/home/Documents/release/news" ] && fail "a package under a wrong hash was installed"
# The next good start installs it.
run c2 0 --home "$work/c/home"
logged c2 "page version: version v2" || fail "the good start after a broken one did not install v2"
[ -s "$work/c/home/Documents/release/news/news.html" ] || fail "the good start after a broken one did not install news"

# A refused key negotiation exits 1 and shows why.
run d 1 --scenario handshake-fail
probe not-blank "$work/d/stopped.png"

# A bank that has what the bundle has: nothing to download.
run f 0 --scenario current
logged f "update: page download " && fail "the current scenario downloaded pages"
logged f "page version: version v1" || fail "the current scenario changed the page"

# A failing menu check: the container's check fails on a fresh start, the update manager's on a
# start that has a menu; either way the pages in place open.
run g 0 --scenario menu-check-fail
logged g "menu check 1" || fail "the container's menu check did not fail"
logged g "page version: version v1" || fail "a failed menu check changed the page"
run g2 0 --scenario menu-check-fail --home "$work/a/home"
logged g2 "update: menu check failed" || fail "the update manager's menu check did not fail"
logged g2 "page version: version v2" || fail "a failed menu check lost the installed page"

# Two virtual runs draw the same screens.
run e 0
for png in launch downloading launch-animation first-page; do
  probe same "$work/a/$png.png" "$work/e/$png.png"
done
echo "fxclient scenarios passed"
