#!/usr/bin/env bash
# Runs fxclient through its options and every scenario, and checks what each leaves behind: the
# log, the exit code and what the PNGs show.
#   fxclient_check.sh <fxclient binary> <scratch folder>
set -euo pipefail
client=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
work=$2
tools=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
fail() { echo "FAIL: $*"; exit 1; }
# The runs a check holds stopped meanwhile go when the script ends, however it ends.
held_runs=""
trap '[ -z "$held_runs" ] || kill -KILL $held_runs 2>/dev/null || true' EXIT
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

# Bad options get a line naming the option, the usage and 64, before anything starts.
for bad in "--timeout abc" "--timeout 0" "--timeout inf" "--scenario bogus" "--time later" "--out" "--colour red" \
           "--server notaurl" "--front ftp://127.0.0.1/"; do
  set +e
  # shellcheck disable=SC2086
  "$client" $bad --out "$work/bad" >"$work/bad.txt" 2>&1
  code=$?
  set -e
  [ "$code" -eq 64 ] || fail "fxclient $bad exited $code, not 64"
  grep -q "^usage: fxclient" "$work/bad.txt" || fail "fxclient $bad printed no usage"
  grep "^fxclient: " "$work/bad.txt" | grep -qF -- "${bad%% *}" || fail "fxclient $bad did not name ${bad%% *}: $(head -1 "$work/bad.txt")"
  [ -e "$work/bad" ] && fail "fxclient $bad started anyway"
done
"$client" --help | grep -q "menu-check-fail" || fail "--help does not list the scenarios"

# refused NAME EXPECTED-EXIT [fxclient options]: that exit with a message naming the fault (at
# most 60 s: a bound, not a measure).
refused() {
  local name=$1 expected=$2
  shift 2
  set +e
  timeout 60 "$client" "$@" >"$work/$name.txt" 2>&1
  local code=$?
  set -e
  [ "$code" -eq "$expected" ] || fail "$name ($*) exited $code, not $expected"
  grep -q "^fxclient: " "$work/$name.txt" || fail "$name ($*) said nothing: $(cat "$work/$name.txt")"
}

# The tour goes only through what the update scenario installs, from the home page.
refused tour-scenario 64 --tour --scenario current --out "$work/ts"
grep -q -- "--scenario current" "$work/tour-scenario.txt" || fail "the tour's refusal does not name the scenario"
refused tour-page 64 --tour --page news/news.html --out "$work/tp"
[ -e "$work/ts" ] || [ -e "$work/tp" ] && fail "a refused tour made its out folder"

# A file where a folder is wanted: 64, and nothing made.
touch "$work/afile"
for option in --out --keys --home; do
  refused "file$option" 64 --out "$work/fo$option" --keys "$work/keys" "$option" "$work/afile"
  grep -q -- "$option $work/afile is not a folder" "$work/file$option.txt" || fail "$option naming a file: $(cat "$work/file$option.txt")"
  [ -e "$work/fo$option" ] && [ "$option" != --out ] && fail "$option naming a file still made the out folder"
done
# A folder that cannot be made or written: 73.
refused unmakable 73 --out /proc/fxclient-out --keys "$work/keys"
refused unwritable 73 --out "$work/uw" --keys "$work/keys" --home /proc/self
grep -q -- "--home /proc/self cannot be written" "$work/unwritable.txt" || fail "no reason for an unwritable home"
refused unwritable-keys 73 --out "$work/uk" --keys /proc/self
grep -q -- "--keys /proc/self cannot be written" "$work/unwritable-keys.txt" || fail "no reason for unwritable keys"
[ -e "$work/uw" ] || [ -e "$work/uk" ] && fail "a run refused for its --home or --keys made its out folder"
if [ "$(id -u)" != 0 ]; then  # (root writes anyway)
  mkdir -p "$work/readonly" && chmod 555 "$work/readonly"
  refused readonly 73 --out "$work/readonly" --keys "$work/keys"
  chmod 755 "$work/readonly"
fi

# An out folder holding what the runner did not make, without its mark, is refused whole.
mkdir -p "$work/mine/home/notes" "$work/mine/bundle"
echo sun >"$work/mine/holiday.png"
echo todo >"$work/mine/home/notes/todo.txt"
echo tex >"$work/mine/bundle/thesis.tex"
refused unmarked 64 --out "$work/mine" --keys "$work/keys"
for kept in holiday.png home/notes/todo.txt bundle/thesis.tex; do
  [ -s "$work/mine/$kept" ] || fail "a refused out folder lost $kept"
done
[ -e "$work/mine/startup.log" ] || [ -e "$work/mine/.fxclient-made" ] && fail "a refused out folder was written"
# A run refused after it made folders removes them again: its new keys folder when its home cannot
# be written, its new home when its out folder holds what the runner did not make.
refused made-keys 73 --out "$work/mk" --keys "$work/made/keys" --home /proc/self
refused made-home 64 --out "$work/mine" --keys "$work/keys" --home "$work/made/home"
[ -e "$work/made" ] || [ -e "$work/mk" ] && fail "a refused run left folders it made: $(find "$work/made" "$work/mk" 2>/dev/null)"

# A mark that is not a plain file (a FIFO, a link to a file elsewhere, a link to nothing) is not
# one this runner wrote: refused, and nothing outside the folder is read, made or written.
echo "my notes" >"$work/notes.txt"
for kind in fifo link dangling; do
  mkdir -p "$work/mark-$kind"
  case $kind in
    fifo) mkfifo "$work/mark-$kind/.fxclient-made" ;;
    link) ln -s "$work/notes.txt" "$work/mark-$kind/.fxclient-made" ;;
    dangling) ln -s "$work/made-outside.txt" "$work/mark-$kind/.fxclient-made" ;;
  esac
  refused "mark-$kind" 64 --out "$work/mark-$kind" --keys "$work/keys"
  grep -q "is not a plain file" "$work/mark-$kind.txt" || fail "the $kind mark's refusal: $(cat "$work/mark-$kind.txt")"
done
[ "$(cat "$work/notes.txt")" = "my notes" ] || fail "a linked mark wrote into the file it names"
[ -e "$work/made-outside.txt" ] && fail "a dangling mark made the file it names"
# A mark that is a second name of a file elsewhere is replaced, never written through (the run
# ends at a demo bank that cannot start, its key file not a key, after the folder was taken).
mkdir -p "$work/badkeys"
echo junk >"$work/badkeys/mwframework_private.der"
mkdir -p "$work/mark-hardlink"
ln "$work/notes.txt" "$work/mark-hardlink/.fxclient-made"
set +e
"$client" --out "$work/mark-hardlink" --keys "$work/badkeys" >"$work/mark-hardlink.txt" 2>&1
code=$?
set -e
[ "$code" -eq 5 ] || fail "the run in the hard-linked mark's folder exited $code, not 5"
[ "$(cat "$work/notes.txt")" = "my notes" ] || fail "a hard-linked mark wrote into the file it shares"
grep -q "^# made by fxclient" "$work/mark-hardlink/.fxclient-made" || fail "the hard-linked mark was not replaced"

# The default folder (out/) of a run that left no mark is taken when it holds only what runs write.
mkdir -p "$work/cwd/out/home"
touch "$work/cwd/out/startup.log" "$work/cwd/out/launch.png" "$work/cwd/out/tour-01-home.png"
(cd "$work/cwd" && "$client" --keys "$work/keys" >"$work/cwd.txt" 2>&1) || fail "the default out/ of an earlier run was refused"
[ -e "$work/cwd/out/tour-01-home.png" ] && fail "the default out/ kept an earlier run's picture"
touch "$work/cwd/out/holiday.png"
rm "$work/cwd/out/.fxclient-made"
set +e
(cd "$work/cwd" && "$client" --keys "$work/keys" >"$work/cwd2.txt" 2>&1)
code=$?
set -e
[ "$code" -eq 64 ] || fail "the default out/ holding holiday.png without a mark exited $code, not 64"
[ -e "$work/cwd/out/holiday.png" ] || fail "the default out/ lost holiday.png"

# A first start installs the bank's pages and every bridge call of the first page answers.
run a 0
grep -qx "startup.log" "$work/a/.fxclient-made" && grep -qx "first-page.png" "$work/a/.fxclient-made" || \
  fail "the mark does not list what the run wrote"
logged a "page version: version v2" || fail "v2 not installed"
logged a "page quote: quote: USD/CNY" || fail "the quote call did not answer"
logged a "page store: store get: " || fail "the store calls did not answer"
head -1 "$work/a/startup.log" | grep -q '^\[v    0\.000 |' || fail "the first line's virtual time is not 0: $(head -1 "$work/a/startup.log")"
logged a "share answer scheme qxfxclient: one of ours" || fail "the bundle does not declare the share answers' scheme"
probe overlay "$work/a/launch.png"
probe overlay "$work/a/downloading.png"
probe not-blank "$work/a/first-page.png"
[ -s "$work/a/launch-animation.png" ] || fail "no launch-animation.png"

# An out folder named through a link and "..": the pages go where the system puts the folders.
mkdir -p "$work/linked/real/sub" "$work/linked/by"
ln -s "$work/linked/real/sub" "$work/linked/by/link"
code=0; timeout 60 "$client" --out "$work/linked/by/link/../o" --keys "$work/keys" --timeout 20 >"$work/linked.txt" 2>&1 || code=$?
[ "$code" -eq 0 ] || fail "a run with --out through a link and .. exited $code: $(tail -3 "$work/linked.txt")"
[ -s "$work/linked/real/o/first-page.png" ] && [ ! -e "$work/linked/by/o" ] || fail "the run through a link and .. wrote elsewhere"

# The same in real time: the launch screen is taken once its overlay stands.
run r 0 --time real
probe overlay "$work/r/launch.png"
probe not-blank "$work/r/first-page.png"

# A run refused for its --home or its --keys leaves an earlier run's out folder as it was: every
# option is checked before anything there is read or changed.
fingerprint() { (cd "$1" && find . -printf '%p %y %s %T@\n' | sort && cat .fxclient-made) | md5sum; }
before=$(fingerprint "$work/a")
refused untouched-home 73 --out "$work/a" --keys "$work/keys" --home /proc/self
refused untouched-keys 73 --out "$work/a" --keys /proc/self
[ "$(fingerprint "$work/a")" = "$before" ] || fail "a run refused for its --home or --keys changed the out folder"

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
logged q2 "did not open: NSURLErrorDomain -1102 outside the page tree" || \
  fail "no code and reason for a --page outside the page tree: $(grep 'did not open' "$work/q2/startup.log")"

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

# A marked folder: the next run deletes what the mark lists and nothing else, and a --home the
# user gives inside it stays whole, whatever the mark says.
echo sun >"$work/e/holiday.png"
echo kept >"$work/e/home/keepme.txt"
touch "$work/e/downloading.png.note"
run e 0 --home "$work/e/home"
[ -s "$work/e/holiday.png" ] && [ -e "$work/e/downloading.png.note" ] || fail "a marked folder lost what its mark did not list"
[ -s "$work/e/home/keepme.txt" ] || fail "the --home given inside the out folder was removed"
grep -qx "home" "$work/e/.fxclient-made" && fail "the mark lists the user's --home"
# A name the runner writes that its mark does not list is someone else's: refused.
echo mine >"$work/e/tour-99-mine.png"
refused foreign-name 64 --out "$work/e" --keys "$work/keys"
[ -s "$work/e/tour-99-mine.png" ] || fail "the refused run removed tour-99-mine.png"
rm "$work/e/tour-99-mine.png"

# A demo bank that cannot start (its key file is not a key) has its own code.
set +e
"$client" --out "$work/nobank" --keys "$work/badkeys" >"$work/nobank.txt" 2>&1
code=$?
set -e
[ "$code" -eq 5 ] || fail "a bank that cannot start exited $code, not 5"
logged nobank "the demo bank did not start" || fail "no word of the bank that did not start"

# Runs started together on one new keys folder: its pairs are made once, whole, and every run uses
# them. Six runs wait at a pipe, then start at once.
together=$work/together
mkdir -p "$together"
mkfifo "$together/go"
exec 3<>"$together/go"
runs=()
for i in 1 2 3 4 5 6; do
  (read -r _ <"$together/go"; exec "$client" --out "$together/out-$i" --keys "$together/keys") >"$together/$i.txt" 2>&1 3>&- &
  runs+=("$!")
done
printf 'go\n%.0s' "${runs[@]}" >&3
for i in 1 2 3 4 5 6; do
  code=0
  wait "${runs[$((i - 1))]}" || code=$?
  [ "$code" -eq 0 ] || fail "run $i of six started together on a new keys folder exited $code: $(grep -v '^\[' "$together/$i.txt" | head -3)"
  cmp -s "$together/keys/mwframework.der" "$together/out-$i/bundle/mwframework.der" || \
    fail "run $i of six started together took another public key than its folder's"
done
exec 3>&-
[ "$(cd "$together/keys" && ls -A | tr '\n' ' ')" = ".bank-keys.lock mwframework.der mwframework_license mwframework_private.der mwframework_sign.der mwframework_sign_private.der " ] || \
  fail "the keys made together left: $(ls -A "$together/keys")"
# A key file cut (as by a run killed in the old way of writing it) is named in one line with what
# to do, without a traceback: 5. The runner's keys are never written over.
mkdir -p "$work/cutkey"
cp "$together/keys"/mwframework* "$work/cutkey/"
key=$work/cutkey/mwframework_private.der
head -c $(($(stat -c %s "$key") / 2)) "$key" >"$work/half.der" && cp "$work/half.der" "$key"
set +e
"$client" --out "$work/cutkey-out" --keys "$work/cutkey" >"$work/cutkey.txt" 2>&1
code=$?
set -e
[ "$code" -eq 5 ] || fail "a run with a cut private key exited $code, not 5"
[ "$(grep -c -F -- "$key" "$work/cutkey.txt")" -eq 1 ] && grep -F -- "$key" "$work/cutkey.txt" | grep -q "remove it" || \
  fail "a cut private key was not named in one line with what to do: $(cat "$work/cutkey.txt")"
grep -q Traceback "$work/cutkey.txt" && fail "a cut private key showed a traceback: $(cat "$work/cutkey.txt")"
cmp -s "$work/half.der" "$key" || fail "the cut key was written over"

# A picture that cannot be written (files over 50 KiB refused) ends the start-up with 73.
set +e
(trap '' XFSZ; ulimit -f 50; "$client" --out "$work/full" --keys "$work/keys" >"$work/full.txt" 2>&1)
code=$?
set -e
[ "$code" -eq 73 ] || fail "a start-up whose pictures cannot be written exited $code, not 73"
logged full "the picture $work/full/first-page.png could not be written" || fail "no word of the picture not written"

# The demo bank ends with the runner: at its normal end, on SIGTERM and when the runner is killed.
bank_port() { sed -n 's/.*\] bank http:\/\/127\.0\.0\.1:\([0-9]*\) .*/\1/p' "$1" | head -1; }
listening() { /usr/bin/python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', int(sys.argv[1])), 2)" "$1" 2>/dev/null; }
port=$(bank_port "$work/a/startup.log")
[ -n "$port" ] || fail "run a logged no bank port"
listening "$port" && fail "the bank of a finished run still listens on $port"
# wait_for TEST: polls until TEST holds, every 5 ms for the first half second, then every 20 ms
# (at most about 60 s: a bound, not a measure).
wait_for() {
  local i
  for i in $(seq 3100); do
    if eval "$1"; then return 0; fi
    if [ "$i" -le 100 ]; then sleep 0.005; else sleep 0.02; fi
  done
  return 1
}
# proc_state PID: sets $state to the process's state (T: stopped; Z: ended, not yet waited for),
# empty once it is gone. Read by the shell itself, so a poll starts no process.
proc_state() {
  local line=""
  { read -r line <"/proc/$1/stat"; } 2>/dev/null || true
  line=${line##*) }
  state=${line%% *}
}
stopped() { proc_state "$1"; [[ $state == T ]]; }
stopped_or_ended() { proc_state "$1"; [[ -z $state || $state == [TZX] ]]; }
for signal in TERM KILL; do
  rm -rf "$work/sig$signal"
  "$client" --tour --out "$work/sig$signal" --keys "$work/keys" >"$work/sig$signal.txt" 2>&1 &
  runner=$!
  wait_for "grep -q '] bank http' '$work/sig$signal/startup.log' 2>/dev/null" || fail "no bank started for SIG$signal"
  bank=$(ps -o pid= --ppid "$runner" | tr -d ' ' | head -1)
  [ -n "$bank" ] || fail "the runner has no bank process"
  kill -s "$signal" "$runner"
  set +e
  { wait "$runner"; } 2>/dev/null
  code=$?
  set -e
  [ "$code" -gt 128 ] || fail "the runner ended $code on SIG$signal"
  wait_for "! kill -0 $bank 2>/dev/null" || fail "the bank (process $bank) outlived the runner's SIG$signal"
done

# A killed run holds nothing: the next run in its folder starts.
run sigKILL 0

# A run holds its out folder and its home until it ends: a second run naming either is refused at
# once with 75, before it touches anything, while the first goes on and still passes. The first
# runs are stopped meanwhile, so they cannot end before the second ones (and a second run that
# waited for them would never end).
rm -rf "$work/held1" "$work/held2" "$work/shared-home"
"$client" --tour --out "$work/held1" --keys "$work/keys" >"$work/held1.txt" 2>&1 &
first1=$!
"$client" --tour --out "$work/held2" --keys "$work/keys" --home "$work/shared-home" >"$work/held2.txt" 2>&1 &
first2=$!
held_runs="$first1 $first2"
for held in held1 held2; do
  wait_for "grep -q '] bank http' '$work/$held/startup.log' 2>/dev/null" || fail "the first run in $held did not start"
done
kill -STOP "$first1" "$first2"
refused in-use-out 75 --out "$work/held1" --keys "$work/keys"
refused in-use-out2 75 --tour --out "$work/held2" --keys "$work/keys" --home "$work/elsewhere"
refused in-use-home 75 --out "$work/second-home" --keys "$work/keys" --home "$work/shared-home"
refused in-use-own-home 75 --tour --out "$work/second-own" --keys "$work/keys" --home "$work/held1/home"
grep -q -- "--out $work/held1 is in use by another run" "$work/in-use-out.txt" || fail "no word of the out folder in use"
grep -q -- "--home $work/shared-home is in use by another run" "$work/in-use-home.txt" || fail "no word of the home in use"
[ -e "$work/second-home" ] || [ -e "$work/second-own" ] && fail "a run refused for a home in use made its out folder"
kill -CONT "$first1" "$first2"
for first in "$first1:held1" "$first2:held2"; do
  set +e
  wait "${first%%:*}"
  code=$?
  set -e
  [ "$code" -eq 0 ] || fail "the first run in ${first#*:} exited $code beside a refused second: $(grep -m3 FAILED "$work/${first#*:}/startup.log")"
  logged "${first#*:}" "tour: every step saw what it expects" || fail "the first run in ${first#*:} did not finish its tour"
done
held_runs=""

# A run killed in the middle of any write of its mark leaves the mark it wrote before, whole: the
# next run in that folder starts. The test's hook cuts the Nth write of the mark after its first
# byte (a file size limit: the kernel ends the run with SIGXFSZ); each run in the chain is cut one
# write later than the one before it, in the folder that one left, until a run has no write left
# to cut and passes.
rm -rf "$work/cut"
"$client" --out "$work/cut" >"$work/cut.txt" 2>&1 || fail "the run before the cuts failed: $(cat "$work/cut.txt")"
cuts=0
for n in $(seq 60); do
  set +e
  (FXCLIENT_TEST_END_IN_MARK_WRITE=$n "$client" --out "$work/cut" >"$work/cut-$n.txt" 2>&1; exit $?) 2>/dev/null
  code=$?
  set -e
  [ "$code" -eq 0 ] && break
  [ "$code" -eq $((128 + 25)) ] || \
    fail "the run after a cut at the mark's write $((n - 1)) exited $code: $(grep '^fxclient' "$work/cut-$n.txt")"
  cuts=$n
done
[ "$code" -eq 0 ] && [ "$cuts" -ge 8 ] || fail "the mark's writes were not all cut ($cuts cut, the last run exited $code)"
logged cut "exit 0" || fail "the run after the last cut did not finish"
ls -A "$work/cut" | grep -q 'fxclient-made.write-' && fail "a cut write of the mark left its temporary file"
# The very first write cut in a new folder leaves only that temporary file: the next run takes it.
rm -rf "$work/cut1"
set +e
(FXCLIENT_TEST_END_IN_MARK_WRITE=1 "$client" --out "$work/cut1" --keys "$work/keys" >"$work/cut1.txt" 2>&1; exit $?) \
  2>/dev/null
code=$?
set -e
[ "$code" -eq $((128 + 25)) ] || fail "the first write of the mark in a new folder was not cut: exit $code"
run cut1 0

# A run holds what it will use before it removes anything, and no run's folder lies in another
# run's: the first run here is stopped (the test's hook) in its claim, its earlier things gone and
# its home not yet made again; a second run given a home inside its out folder is refused at once
# and makes nothing, and the first goes on to pass.
run race 0
FXCLIENT_TEST_STOP_AFTER_CLAIM=1 "$client" --out "$work/race" --keys "$work/keys" >"$work/race-first.txt" 2>&1 &
first=$!
held_runs=$first
wait_for "stopped $first" || fail "the first run did not stop in its claim"
refused race-home 75 --out "$work/race2" --keys "$work/keys" --home "$work/race/home"
grep -q -- "--home $work/race/home lies in $work/race, which is in use by another run" "$work/race-home.txt" || \
  fail "the refusal of a home inside a held out folder: $(cat "$work/race-home.txt")"
[ -e "$work/race2" ] || [ -e "$work/race/home" ] && fail "the run refused for a home inside a held out folder made something"
kill -CONT "$first"
set +e
wait "$first"
code=$?
set -e
held_runs=""
[ "$code" -eq 0 ] || fail "the first run, held in its claim, exited $code: $(cat "$work/race-first.txt")"
# The other way round: while a run uses a home inside an out folder, a run given that out folder
# is refused and leaves everything there as it was.
FXCLIENT_TEST_STOP_AFTER_CLAIM=1 "$client" --out "$work/race3" --keys "$work/keys" --home "$work/race/home" \
  >"$work/race3.txt" 2>&1 &
first=$!
held_runs=$first
wait_for "stopped $first" || fail "the run using a home in $work/race did not stop in its claim"
before=$(fingerprint "$work/race")
refused race-out 75 --out "$work/race" --keys "$work/keys"
[ "$(fingerprint "$work/race")" = "$before" ] || fail "a run refused for an out folder around a home in use changed it"
[ -e "$work/race/startup.log" ] && [ -e "$work/race/launch.png" ] || fail "the refused run removed the earlier run's things"
kill -KILL "$first"
wait "$first" 2>/dev/null || true
held_runs=""

# Another program's lock on the user's folders (an exclusive flock on the out folder, its parent and
# its grandparent, as one keeps a workspace's jobs apart) never refuses a run: runs hold folders
# only against one another.
mkdir -p "$work/locked/repo/out"
(cd "$work/locked/repo" && flock -x .. flock -x . flock -x out "$client" --out out --keys "$work/keys" \
  >"$work/locked.txt" 2>&1) || fail "a run in folders another program locks exited $?: $(grep '^fxclient' "$work/locked.txt")"

# Of two conflicting runs started together, one goes on (the test's hook stops it after its claim)
# and the other is refused with 75 having made nothing: the tree then holds only the folders the
# first needs and its mark. race_pairs NAME "A's options" "A's folders" "B's options" "B's folders"
# (T in them is the pair's own scratch folder).
race_faults=""
# paired OPTIONS OUTPUT: a run in the background that starts once it reads its word from $t.go.
paired() {
  # shellcheck disable=SC2086
  (read -r _ <"$t.go"; FXCLIENT_TEST_STOP_AFTER_CLAIM=1 exec "$client" $1 --keys "$work/keys") >"$2" 2>&1 3>&- &
}
race_pairs() {
  local name=$1 i t a b code_a code_b dirs out none=0 other=0 left=0
  for i in $(seq 40); do
    t=$work/pairs/$name-$i
    mkdir -p "$t"
    # Both wait at a pipe, then read their words from it at once.
    mkfifo "$t.go"
    exec 3<>"$t.go"
    paired "${2//T/$t}" "$t.a"
    a=$!
    paired "${4//T/$t}" "$t.b"
    b=$!
    printf 'go\ngo\n' >&3
    held_runs="$a $b"
    wait_for "stopped_or_ended $a && stopped_or_ended $b" || fail "a pair in $t neither stopped nor ended"
    exec 3>&-  # (only now: a pipe's words go when no one holds it open)
    kill -KILL "$a" "$b" 2>/dev/null || true
    set +e
    { wait "$a"; code_a=$?; wait "$b"; code_b=$?; } 2>/dev/null
    set -e
    held_runs=""
    if [ "$code_a" -eq 137 ] && [ "$code_b" -eq 75 ]; then dirs=$3; out=$t.b
    elif [ "$code_a" -eq 75 ] && [ "$code_b" -eq 137 ]; then dirs=$5; out=$t.a
    elif [ "$code_a" -ne 137 ] && [ "$code_b" -ne 137 ]; then none=$((none + 1)); continue
    else other=$((other + 1)); continue; fi
    grep -q "in use by another run of fxclient" "$out" || fail "the refusal in $t: $(cat "$out")"
    [ "$( (echo .; for d in $dirs; do echo "./$d"; done) | sort -u)" = "$(cd "$t" && find . -type d | sort)" ] && \
      [ "$(cd "$t" && find . -type f)" = "./${dirs%% *}/.fxclient-made" ] || left=$((left + 1))
  done
  [ "$none" -eq 0 ] && [ "$other" -eq 0 ] && [ "$left" -eq 0 ] || race_faults+="
  of 40 pairs $name, $none had no run go on, $other had the other refused otherwise than as in use, and in $left the refused run left something"
}
race_pairs out-and-home-in-it "--out T/A" "A" "--out T/B --home T/A/home" "B A A/home"
race_pairs out-in-out "--out T/p" "p" "--out T/p/q" "p/q p"
race_pairs out-in-home "--out T/H/o" "H/o H" "--out T/A --home T/H" "A H"
[ -z "$race_faults" ] || fail "runs started together:$race_faults"

# However deep its folders lie, a run holds every folder around them with a few descriptors: under a
# limit of 16 open files, a run whose out folder lies 40 folders deep goes on (stopped after its
# claim), and a run given the top folder is refused.
deep=$work/deep/$(printf 'd/%.0s' $(seq 40))out
(ulimit -n 16; FXCLIENT_TEST_STOP_AFTER_CLAIM=1 exec "$client" --out "$deep" --keys "$work/keys") >"$work/deep.txt" 2>&1 &
first=$!
held_runs=$first
wait_for "stopped_or_ended $first" && stopped "$first" || \
  fail "a run 40 folders deep under 16 open files did not go on: $(cat "$work/deep.txt")"
refused deep-top 75 --out "$work/deep" --keys "$work/keys"
kill -KILL "$first"
wait "$first" 2>/dev/null || true
held_runs=""

# The runner's holds folder is the user's alone: a link in its place, or a folder others may write
# into, is refused (73) before anything is made, and nothing is written where the link leads.
for kind in link open; do
  mkdir -p "$work/runtime-$kind" "$work/holds-target" && chmod 700 "$work/runtime-$kind"
  case $kind in
    link) ln -s "$work/holds-target" "$work/runtime-$kind/fxclient-$(id -u)" ;;
    open) mkdir -m 777 "$work/runtime-$kind/fxclient-$(id -u)" ;;
  esac
  FXCLIENT_TEST_HOLDS_IN=$work/runtime-$kind refused "holds-$kind" 73 --out "$work/holds-$kind" --keys "$work/keys"
  grep -q "is not yours alone" "$work/holds-$kind.txt" || fail "the $kind holds folder's refusal: $(cat "$work/holds-$kind.txt")"
  [ -e "$work/holds-$kind" ] && fail "a run refused for its holds folder ($kind) made its out folder"
done
[ -z "$(ls -A "$work/holds-target")" ] || fail "a run wrote where a link in place of its holds folder leads"

# A run that ends takes its record with it: its holds folder keeps only the set-up lock.
mkdir -p "$work/runtime-own" && chmod 700 "$work/runtime-own"
FXCLIENT_TEST_HOLDS_IN=$work/runtime-own run holds-own 0
left=$(ls -A "$work/runtime-own/fxclient-$(id -u)")
[ "$left" = setup.lock ] || fail "a run that ended left in its holds folder: $left"
# What is no run's record there (a link, a FIFO) is passed over, never followed or waited on.
odd=$work/runtime-odd/fxclient-$(id -u)
mkdir -p "$odd" && chmod 700 "$work/runtime-odd" "$odd"
ln -s /etc/passwd "$odd/run-link" && mkfifo "$odd/run-fifo"
FXCLIENT_TEST_HOLDS_IN=$work/runtime-odd run holds-odd 0
# Nor is what cannot be opened: a socket, and (unless the run is root's) a file the user may not read.
/usr/bin/python3 -c "import socket, sys; socket.socket(socket.AF_UNIX).bind(sys.argv[1])" "$odd/run-socket"
touch "$odd/run-unreadable" && chmod 000 "$odd/run-unreadable"
FXCLIENT_TEST_HOLDS_IN=$work/runtime-odd run holds-unopenable 0

# A holds folder another user made first cannot be removed by this one (the sticky /tmp): the
# refusal names its owner and who can remove it (as root, whose folder anyone else could make).
if [ "$(id -u)" = 0 ]; then
  mkdir -p "$work/runtime-theirs" && chmod 700 "$work/runtime-theirs"
  mkdir -m 700 "$work/runtime-theirs/fxclient-0" && chown 65534:65534 "$work/runtime-theirs/fxclient-0"
  FXCLIENT_TEST_HOLDS_IN=$work/runtime-theirs refused holds-theirs 73 --out "$work/holds-theirs" --keys "$work/keys"
  owner=$(getent passwd 65534 | cut -d: -f1)
  owner="${owner:+$owner (}uid 65534${owner:+)}"
  grep -qF "belongs to another user, $owner, who made it first: only they or an administrator can remove it" \
    "$work/holds-theirs.txt" || fail "the refusal of another user's holds folder: $(cat "$work/holds-theirs.txt")"
  [ -e "$work/holds-theirs" ] && fail "a run refused for another user's holds folder made its out folder"
fi

# A set-up lock that stays taken until the run's deadline: the deadline passed (2), said so, and
# nothing made.
wait_holds=$work/runtime-wait/fxclient-$(id -u)
mkdir -p "$wait_holds" && chmod 700 "$work/runtime-wait" "$wait_holds"
set +e
FXCLIENT_TEST_HOLDS_IN=$work/runtime-wait flock -x "$wait_holds/setup.lock" \
  "$client" --timeout 1 --out "$work/holds-wait" --keys "$work/keys" >"$work/holds-wait.txt" 2>&1
code=$?
set -e
[ "$code" -eq 2 ] || fail "a run whose deadline passed waiting for the set-up lock exited $code, not 2"
grep -qF "fxclient: deadline passed while the runner's set-up lock $wait_holds/setup.lock stayed taken" \
  "$work/holds-wait.txt" || fail "the deadline's word at the set-up lock: $(cat "$work/holds-wait.txt")"
[ -e "$work/holds-wait" ] && fail "a run whose deadline passed at the set-up lock made its out folder"

# --timeout bounds every wait in real time, a step's own too. The run is held (SIGSTOP) in step 19
# until its deadline is 6 s away, so that the deadline falls in step 21's wait of 15 s: it ends
# with 2 within 5 s of its deadline (a bound, not a measure).
real_startup=$(sed -n 's/^\[v *[0-9.]* | r *\([0-9]*\)\.[0-9]*\] exit 0.*/\1/p' "$work/r/startup.log")
[ -n "$real_startup" ] || fail "run r logged no exit"
deadline=$((real_startup * 3 + 20))
rm -rf "$work/late"
began=${EPOCHREALTIME/./}
"$client" --tour --time real --timeout "$deadline" --out "$work/late" --keys "$work/keys" >"$work/late.txt" 2>&1 &
runner=$!
held_runs=$runner
wait_for "grep -q 'step 19 lock: expects' '$work/late/startup.log' 2>/dev/null" || fail "the real-time tour did not reach step 19"
kill -STOP "$runner"
while [ $((${EPOCHREALTIME/./} - began)) -lt $(((deadline - 6) * 1000000)) ]; do sleep 0.1; done
kill -CONT "$runner"
set +e
wait "$runner"
code=$?
set -e
held_runs=""
took=$(((${EPOCHREALTIME/./} - began) / 1000000))
[ "$code" -eq 2 ] || fail "a real-time tour past its deadline exited $code, not 2"
[ "$took" -le $((deadline + 5)) ] || fail "a real-time tour with --timeout $deadline ended after $took s: $(grep -E 'expects|deadline' "$work/late/startup.log" | tail -2)"

# --timeout bounds the tour too: a bank that stops answering mid-tour ends the run with 2. The
# deadline leaves room for a start-up several times as slow as run a's.
startup=$(sed -n 's/^\[v *[0-9.]* | r *\([0-9]*\)\.[0-9]*\] exit 0.*/\1/p' "$work/a/startup.log")
[ -n "$startup" ] || fail "run a logged no exit"
deadline=$((startup * 4 + 6))
rm -rf "$work/stall"
"$client" --tour --timeout "$deadline" --out "$work/stall" --keys "$work/keys" >"$work/stall.txt" 2>&1 &
runner=$!
wait_for "grep -q 'step 01 home: expects' '$work/stall/startup.log' 2>/dev/null" || fail "the stalled tour did not start"
bank=$(ps -o pid= --ppid "$runner" | tr -d ' ' | head -1)
kill -STOP "$bank"
set +e
wait "$runner"
code=$?
set -e
[ "$code" -eq 2 ] || fail "a tour whose bank stalled exited $code, not 2: $(grep -E 'FAILED|deadline' "$work/stall/startup.log" | head -3)"
logged stall "deadline passed" || fail "no word of the deadline"
wait_for "! kill -0 $bank 2>/dev/null" || fail "the stalled bank (process $bank) outlived the runner"
echo "fxclient scenarios passed"
