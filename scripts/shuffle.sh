#!/usr/bin/env bash
# Runs every GoogleTest executable of a build in shuffled order, three times over in one process,
# with the seeds 1 to 5, in the environment and working folder CTest gives it: a test that leans on
# what an earlier one left behind, or that passes only the first time in a process, fails here.
#   scripts/shuffle.sh [build dir]     (default build/release; configured and built beforehand)
# FX_JOBS executables run at once (default: the cores); the seeds of one executable run one after
# the other. Each run's output goes to <build dir>/shuffle/<test>.seed<N>.log.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$top/build/release}" && pwd)
jobs=${FX_JOBS:-$(nproc)}
seeds=(1 2 3 4 5)
repeat=3
# What the sanitizer leg of scripts/test.sh runs its tests with (ignored by a build without them).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

logs=$build/shuffle
rm -rf "$logs"
mkdir -p "$logs"

# One line per GoogleTest executable CTest knows (its command holds a --gtest flag): the name, its
# time limit, then the whole command with CTest's working folder and environment, quoted for the shell.
list=$(cd "$build" && ctest --show-only=json-v1 | python3 -c '
import json, shlex, sys
for test in json.load(sys.stdin)["tests"]:
    command = test.get("command") or []
    if not any(arg.startswith("--gtest") for arg in command[1:]):
        continue
    props = {p["name"]: p["value"] for p in test.get("properties", [])}
    env = ["env", "-C", props.get("WORKING_DIRECTORY", ".")] + list(props.get("ENVIRONMENT", []))
    print(test["name"], int(float(props.get("TIMEOUT", 1500))), shlex.join(env + command), sep="\t")
')
if [ -z "$list" ]; then
  echo "no GoogleTest executable in $build (configure and build it first)" >&2
  exit 2
fi

# Runs one executable with every seed; prints its verdict line, and exits 1 when a seed failed.
run_one() { # name, limit in seconds (one pass), command
  local name=$1 limit=$2 command=$3 seed failed=() status
  for seed in "${seeds[@]}"; do
    status=0
    eval "timeout -k 15 $((limit * repeat)) $command --gtest_shuffle --gtest_repeat=$repeat \
      --gtest_random_seed=$seed" >"$logs/$name.seed$seed.log" 2>&1 || status=$?
    [ "$status" -eq 0 ] || failed+=("$seed (exit $status)")
  done
  if [ ${#failed[@]} -eq 0 ]; then
    echo "ok      $name: seeds ${seeds[*]}, $repeat passes each"
    return 0
  fi
  local list
  list=$(printf ', %s' "${failed[@]}")
  echo "FAILED  $name: seed ${list:2}; see $logs/$name.seed<N>.log"
  return 1
}

passed=0 failed=0 running=0
collect() { # waits for whichever running executable ends first
  if wait -n; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
  running=$((running - 1))
}
while IFS=$'\t' read -r name limit command; do
  [ "$running" -lt "$jobs" ] || collect
  run_one "$name" "$limit" "$command" &
  running=$((running + 1))
done <<<"$list"
while [ "$running" -gt 0 ]; do collect; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
