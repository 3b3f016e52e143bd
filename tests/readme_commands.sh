#!/usr/bin/env bash
# Runs the README's one-test-executable and fuzz commands as written, from the top folder, on this
# build (its folder in place of the README's): the first must run tests, the second (in a libFuzzer
# build only) must run without any sanitizer settings from the environment and leave nothing in the
# source tree, neither new inputs in the checked-in corpus nor findings in the top folder.
#   tests/readme_commands.sh TOP BUILD_DIR FUZZ_ENGINE(ON|OFF)
set -euo pipefail
top=$1 build=$2 fuzz=$3
cd "$top"
failed=0

command=$(grep -o "build/release/tests/kvstore/kvstore_tests --gtest_filter='[^']*'" README.md || true)
if [ -z "$command" ]; then
  echo "FAILED: the README names no kvstore_tests command"
  failed=1
else
  output=$(eval "${command/build\/release\//$build/}" 2>&1) || { echo "$output"; failed=1; }
  ran=$(sed -n 's/^\[==========\] \([0-9]*\) tests\{0,1\} from .* ran\..*/\1/p' <<<"$output")
  if [ "${ran:-0}" -eq 0 ]; then
    echo "FAILED: $command ran no test"
    failed=1
  else
    echo "ok: $command ran $ran tests"
  fi
fi

if [ "$fuzz" = ON ]; then
  command=$(grep -o 'build/sanitize/fuzz/fuzz_[a-z_]* [^`]*' README.md | head -n 1 || true)
  target=$(sed -n 's|^build/sanitize/fuzz/\(fuzz_[a-z_]*\) .*|\1|p' <<<"$command")
  if [ -z "$command" ]; then
    echo "FAILED: the README names no fuzz command"
    failed=1
  else
    before=$(ls -A . "fuzz/corpus/$target")
    # A few seconds in place of the README's minute (libFuzzer takes the last of a flag given twice).
    status=0
    env -u ASAN_OPTIONS -u LSAN_OPTIONS -u UBSAN_OPTIONS \
      bash -c "${command//build\/sanitize\//$build/} -max_total_time=3" >"$build/readme_fuzz.log" 2>&1 || status=$?
    after=$(ls -A . "fuzz/corpus/$target")
    if [ "$status" -ne 0 ]; then
      tail -n 20 "$build/readme_fuzz.log"
      echo "FAILED: $command exited $status"
      failed=1
    elif [ "$before" != "$after" ]; then
      diff <(echo "$before") <(echo "$after") || true
      echo "FAILED: $command left files in the source tree"
      failed=1
    else
      echo "ok: $command"
    fi
  fi
fi
exit "$failed"
