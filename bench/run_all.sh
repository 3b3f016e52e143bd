#!/bin/bash
# Runs every benchmark program of a build, one at a time, with repetitions, and prints each
# program's ratio lines (Ratios.h) as they come, then all of them as one Markdown table (row,
# ratio, min-max of the repetitions, aim) for docs/ARCHITECTURE.md "Benchmark figures". Take the
# figures on an idle machine: the whole set runs in a few minutes.
#
#   bench/run_all.sh [build dir, default build/release] [repetitions, default 3]
#
# Environment: BENCH_ONLY='unpack startup' runs only those programs; BENCH_LOG=dir keeps each
# program's whole output there.
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
repetitions=${2:-3}
bench_dir=$build/bench
if [ ! -d "$bench_dir" ]; then
  echo "no benchmarks in $bench_dir (configure with -DFX_BENCH=ON and build)" >&2
  exit 1
fi

# Rows of every program run with their repetitions interleaved at random, so that all rows meet the
# same drift of the machine, and at least 0.2 s a repetition (rows that fix their iterations or
# take turns keep them).
common=(--benchmark_repetitions="$repetitions" --benchmark_min_time=0.2 --benchmark_display_aggregates_only=true)
options_for() {
  case "$1" in
    # One database a configuration, made when its first row runs: rows in order, and the
    # side-by-side rows of 10^4 rows (the whole set makes 1.6 GB of files).
    bench_kvstore) echo "--benchmark_filter=side-by-side/.*/rows:10000/" ;;
    # The receiving turns against Node's ws and the UTF-8 check (the separate client rows are
    # slow and say less).
    bench_websocket) echo "--benchmark_filter=InTurns|Utf8 --benchmark_enable_random_interleaving=true" ;;
    *) echo "--benchmark_enable_random_interleaving=true" ;;
  esac
}

programs=()
for program in "$bench_dir"/bench_*; do
  [ -x "$program" ] && [ -f "$program" ] || continue
  name=$(basename "$program")
  case "$name" in *_tests) continue ;; esac
  if [ -n "${BENCH_ONLY:-}" ]; then
    case " $BENCH_ONLY " in *" ${name#bench_} "* | *" $name "*) ;; *) continue ;; esac
  fi
  programs+=("$program")
done

# The line Ratios.h prints: value, min, max, repetitions, aim (optional), name.
figures='^ratio +([0-9.]+) +min +([0-9.]+) +max +([0-9.]+) +n +([0-9]+) +(aim [^ ]+( [0-9.]+)?( met| missed)?)? +(.*)$'
failed='^ratio +failed +(.*)$'
table=()
started=$(date +%s)
for program in "${programs[@]}"; do
  name=$(basename "$program")
  # shellcheck disable=SC2207
  extra=($(options_for "$name"))
  begin=$(date +%s)
  output=$("$program" "${common[@]}" "${extra[@]}" 2>&1)
  status=$?
  [ -n "${BENCH_LOG:-}" ] && mkdir -p "$BENCH_LOG" && printf '%s\n' "$output" >"$BENCH_LOG/$name.txt"
  if [ "$status" -eq 0 ]; then
    echo "== $name ($(($(date +%s) - begin)) s)"
  else
    echo "== $name ($(($(date +%s) - begin)) s, exit status $status)"
    printf '%s\n' "$output" | tail -5
  fi
  while IFS= read -r line; do
    echo "$line"
    if [[ $line =~ $figures ]]; then
      aim=${BASH_REMATCH[5]#aim }
      aim=${aim% met}
      aim=${aim% missed}
      table+=("| ${name#bench_} | ${BASH_REMATCH[8]} | ${BASH_REMATCH[1]} | ${BASH_REMATCH[2]}-${BASH_REMATCH[3]} | ${aim:--} |")
    elif [[ $line =~ $failed ]]; then
      table+=("| ${name#bench_} | ${BASH_REMATCH[1]} | failed | | |")
    fi
  done < <(printf '%s\n' "$output" | grep '^ratio ')
done

echo
echo "$(date -u '+%Y-%m-%d %H:%M') UTC, $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)," \
  "$repetitions repetitions, $(($(date +%s) - started)) s"
echo
echo "| program | ratio | median | min-max | aim |"
echo "|---|---|---|---|---|"
printf '%s\n' "${table[@]}"
