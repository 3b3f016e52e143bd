#!/usr/bin/env bash
# Builds the tests under ThreadSanitizer (clang) and runs them. Run it after any change to threads,
# queues or locks. Reports inside uninstrumented system libraries are suppressed in one file,
# tests/tsan.supp.
#   scripts/tsan.sh                 every test executable
#   scripts/tsan.sh appnet_tests    some of them (CTest names)
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
jobs=${FX_JOBS:-$(nproc)}
source scripts/build-env.sh

CC=clang CXX=clang++ cmake -S . -B build/tsan -G Ninja "${strict_args[@]}" -DCMAKE_BUILD_TYPE=Debug \
  "-DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -O1 -fsanitize=thread" \
  "-DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -O1 -fsanitize=thread" \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread -DFX_BENCH=OFF -DFX_SANITIZE=OFF >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build/tsan -j "$jobs" --target "$@"
  regex=$(IFS='|'; echo "^($*)\$")
else
  cmake --build build/tsan -j "$jobs"
  regex='.'
fi
export TSAN_OPTIONS="suppressions=$top/tests/tsan.supp halt_on_error=1 second_deadlock_stack=1"
(cd build/tsan && ctest --output-on-failure -j "$jobs" --timeout 900 -LE 'fuzz' -R "$regex")
