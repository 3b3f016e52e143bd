#!/usr/bin/env bash
# The test command: installs what is missing, configures, builds and runs every test, once in a
# normal build and once under AddressSanitizer and UndefinedBehaviorSanitizer, then the threaded
# test executables under ThreadSanitizer.
#   scripts/test.sh            all three
#   scripts/test.sh --fast     the normal build only
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
bash scripts/install-deps.sh

jobs=$(nproc)
source scripts/build-env.sh

run_build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j "$jobs"
  (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 -LE fuzz-run)
  # The bounded libFuzzer runs, where the build has them.
  if (cd "$dir" && ctest -N -L fuzz-run | grep -q 'Total Tests: [1-9]'); then
    (cd "$dir" && ctest --output-on-failure -j "$jobs" --timeout 600 -L fuzz-run)
  fi
}

run_build build/release "${release_args[@]}" -DFX_BENCH=ON
if [ "${1:-}" != "--fast" ]; then
  # The sanitizer leg is built by clang with every library instrumented for libFuzzer: the tests run
  # under ASan and UBSan, each fuzz target replays its corpus, then fuzzes for FX_FUZZ_SECONDS
  # (default 10 s; about a minute per 10 targets on 2 cores).
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 LSAN_OPTIONS=suppressions=$top/tests/lsan.supp UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  # Line tables are all a sanitizer's report needs, at a third less compile time than full -g.
  CC=clang CXX=clang++ run_build build/sanitize "${strict_args[@]}" -DCMAKE_BUILD_TYPE=Debug \
    "-DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -O1" "-DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -O1" \
    -DFX_SANITIZE=ON -DFX_FUZZ=ON -DFX_FUZZ_SECONDS="${FX_FUZZ_SECONDS:-10}" -DFX_BENCH=OFF
  # The executables whose code runs on several threads (run loops, queues, sockets, the store,
  # the container's requests) under ThreadSanitizer, in build/tsan.
  FX_JOBS=$jobs bash scripts/tsan.sh platform_foundation_tests platform_net_tests appnet_tests appnet_heap_tests kvstore_tests \
    container_tests
fi
