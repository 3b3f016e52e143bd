#!/bin/bash
# Checks bench/run_all.sh against stand-in programs in a build folder of its own: one that leaves a
# peer running (in a process group of its own, deaf to SIGTERM, holding the program's output), one
# that meets its time limit, one killed by a signal, one with a failed row, one whose verdict is
# unsettled; then run_all.sh stopped by SIGINT and by SIGTERM, a program the build should have made
# but did not, and a misspelt BENCH_ONLY.
#
#   bench/run_all_check.sh [run_all.sh, default the one beside this file] [scratch folder's parent]
set -u
here=$(cd "$(dirname "$0")" && pwd)
run_all=${1:-$here/run_all.sh}
work=$(mktemp -d "${2:-${TMPDIR:-/tmp}}/run_all_check.XXXXXX")
build=$work/build
mkdir -p "$build/bench"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}
# Whether process `1` runs (a zombie, which only waits to be reaped, does not).
alive() {
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) || return 1
  [[ $state != Z* ]]
}
cleanup() {
  local file
  for file in "$work"/*.pid; do
    # shellcheck disable=SC2046
    [ -f "$file" ] && kill -KILL $(cat "$file") 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT

program() { # name, body
  printf '#!/bin/bash\n%s\n' "$2" >"$build/bench/$1"
  chmod +x "$build/bench/$1"
}
# A peer as the test support starts one: its own process group, here also deaf to SIGTERM.
peer="set -m; (trap '' TERM; exec sleep infinity) & echo \$! >>$work/\$(basename \$0).pid; set +m"
program bench_fine 'echo "ratio   1.00  min  0.90  max  1.10  n 5  aim >= 0.8 unsettled   fine / fine"'
program bench_stray "$peer"'
echo "ratio   1.00  min  1.00  max  1.00  n 5  aim >= 0.8 met         stray / stray"'
program bench_stuck "$peer"'
exec sleep infinity'
program bench_killed 'kill -KILL $$'
program bench_failedrow 'echo "ratio   1.00  min  1.00  max  1.00  n 5                        row / row"
echo "row    failed   BM_Broken  (no peer)"
exit 1'
printf '%s\n' bench_failedrow bench_fine bench_killed bench_sleeper bench_stray bench_stuck bench_unbuilt \
  >"$build/bench/programs.txt"

# The run is bounded here so that a run_all.sh that waits on the peer fails instead of hanging.
BENCH_ONLY='fine stray stuck killed failedrow' BENCH_LIMIT=5 \
  timeout --kill-after=5 120 bash "$run_all" "$build" >"$work/run.txt" 2>&1
status=$?
[ "$status" -ne 124 ] || fail "run_all.sh did not finish"
[ "$status" -eq 1 ] || fail "run_all.sh exited with $status, not 1"
log=$work/run.txt
expect() { # what the output holds
  grep -qF -- "$1" "$log" || fail "no \"$1\" in $(basename "$log")"
}
expect "| fine | fine / fine | 1.00 | 0.90-1.10 | 5 | >= 0.8 | unsettled |"
expect "| stray | stray / stray | 1.00 | 1.00-1.00 | 5 | >= 0.8 | met |"
expect "== bench_stray ("
expect ", left 1 processes running: killed)"
expect "| stuck | the program: stopped at its time limit of 5 s | | | | | failed |"
expect "| killed | the program: killed by signal 9 (SIGKILL) | | | | | failed |"
expect "| failedrow | row BM_Broken  (no peer) | | | | | failed |"
grep -qF "| failedrow | the program" "$log" && fail "the failed row's program said more than its row"
grep -q "killed.*time limit" "$log" && fail "a signal was taken for the time limit"
for file in "$work"/*.pid; do
  alive "$(tail -1 "$file")" && fail "the peer of $(basename "$file" .pid) still runs"
done
[ -f "$work/bench_stray.pid" ] && [ -f "$work/bench_stuck.pid" ] || fail "a stand-in started no peer"

# Stopped by a signal while a program runs: 128 + the signal's number, and the program gone. (Job
# control on, so that the background run_all.sh does not start with SIGINT ignored.)
program bench_sleeper 'echo $$ >"$SLEEPER_PID"; exec sleep infinity'
for signal in INT TERM; do
  pid_file=$work/sleeper-$signal.pid
  set -m
  SLEEPER_PID=$pid_file BENCH_ONLY=sleeper BENCH_LIMIT=100 bash "$run_all" "$build" >"$work/signal-$signal.txt" 2>&1 &
  run_all_pid=$!
  set +m
  for _ in $(seq 600); do  # (at most 60 s: a bound, not a measure)
    [ -s "$pid_file" ] && break
    sleep 0.1
  done
  kill -s "$signal" "$run_all_pid"
  wait "$run_all_pid"
  status=$?
  expected=$((128 + $(kill -l "$signal")))
  [ "$status" -eq "$expected" ] || fail "run_all.sh stopped by SIG$signal exited with $status, not $expected"
  sleeper=$(cat "$pid_file" 2>/dev/null)
  [ -n "$sleeper" ] || fail "the stand-in did not start before SIG$signal"
  for _ in $(seq 600); do alive "$sleeper" || break; sleep 0.1; done
  alive "$sleeper" && fail "the program run_all.sh ran when stopped by SIG$signal still runs"
done

# A program the build lists but did not make, and a name that is no program: nothing runs.
for only in '' 'fine fien'; do
  log=$work/only-${only// /-}.txt
  BENCH_ONLY=$only timeout 60 bash "$run_all" "$build" >"$log" 2>&1
  status=$?
  [ "$status" -eq 1 ] || fail "BENCH_ONLY='$only': exit status $status, not 1"
  grep -q '^== ' "$log" && fail "BENCH_ONLY='$only': programs ran"
  case "$only" in
    '') expect "not built: bench_unbuilt" ;;
    *) expect "BENCH_ONLY names no such program: fien" ;;
  esac
done

if [ "$failures" -ne 0 ]; then
  for log in "$work"/*.txt; do
    echo "---- $(basename "$log")"
    cat "$log"
  done
  exit 1
fi
echo "run_all.sh: all checks passed"
