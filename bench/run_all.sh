#!/bin/bash
# Runs every benchmark program of a build, one at a time, with repetitions, and prints each
# program's ratio lines (Ratios.h) as they come; then, after a line "---- table", the block that
# docs/ARCHITECTURE.md "Benchmark figures" holds, pasted as it is: one line of the conditions and
# a Markdown table of every ratio (median, min-max of the repetitions' own ratios, repetitions,
# aim, verdict). Take the figures on an idle machine.
#
#   bench/run_all.sh [build dir, default build/release] [repetitions, default 3]
#
# Exits 1 when a program failed (an exit status other than 0, or killed at its time limit) or a
# ratio it declared failed or is missing; missed aims are figures, not failures.
#
# Environment: BENCH_ONLY='unpack startup' runs only those programs; BENCH_LOG=dir keeps each
# program's whole output there; BENCH_TABLE=file writes the block to that file too;
# BENCH_LIMIT=seconds is each program's time limit (default 600, doubled for bench_kvstore).
set -u
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
repetitions=${2:-3}
limit=${BENCH_LIMIT:-600}
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
limit_for() {
  case "$1" in
    bench_kvstore) echo $((limit * 2)) ;;
    *) echo "$limit" ;;
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
if [ ${#programs[@]} -eq 0 ]; then
  echo "no benchmark programs to run in $bench_dir" >&2
  exit 1
fi

# The line Ratios.h prints: value, min, max, repetitions, then the aim (padded) and the name.
figures='^ratio +([0-9.]+) +min +([0-9.]+) +max +([0-9.]+) +n +([0-9]+) (.*)$'
broken='^ratio +(failed|missing) +(.*)$'
table=()
bad=0
load_before=$(cut -d' ' -f1 /proc/loadavg)
started=$(date +%s)
for program in "${programs[@]}"; do
  name=$(basename "$program")
  short=${name#bench_}
  # shellcheck disable=SC2207
  extra=($(options_for "$name"))
  seconds=$(limit_for "$name")
  begin=$(date +%s)
  output=$(timeout --kill-after=15 "$seconds" "$program" "${common[@]}" "${extra[@]}" 2>&1)
  status=$?
  [ -n "${BENCH_LOG:-}" ] && mkdir -p "$BENCH_LOG" && printf '%s\n' "$output" >"$BENCH_LOG/$name.txt"
  took=$(($(date +%s) - begin))
  if [ "$status" -eq 0 ]; then
    echo "== $name ($took s)"
  else
    echo "== $name ($took s, exit status $status)"
    printf '%s\n' "$output" | grep -v '^ratio ' | tail -5
  fi
  ratios=0
  broken_ratios=0
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    echo "$line"
    ratios=$((ratios + 1))
    if [[ $line =~ $figures ]]; then
      rest=${BASH_REMATCH[5]}
      rest=${rest#"${rest%%[! ]*}"}
      aim=-
      verdict=-
      if [[ $rest == aim\ * ]]; then
        aim=${rest%%  *}
        rest=${rest#"$aim"}
        rest=${rest#"${rest%%[! ]*}"}
        aim=${aim#aim }
        case "$aim" in
          *" met") verdict=met aim=${aim% met} ;;
          *" missed") verdict=missed aim=${aim% missed} ;;
        esac
      fi
      table+=("| $short | $rest | ${BASH_REMATCH[1]} | ${BASH_REMATCH[2]}-${BASH_REMATCH[3]} | ${BASH_REMATCH[4]} | $aim | $verdict |")
    elif [[ $line =~ $broken ]]; then
      broken_ratios=$((broken_ratios + 1))
      table+=("| $short | ${BASH_REMATCH[2]} | | | | | ${BASH_REMATCH[1]} |")
    fi
  done < <(printf '%s\n' "$output" | grep '^ratio ')
  why=
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    why="stopped at its time limit of $seconds s"
  elif [ "$status" -ne 0 ] && [ "$broken_ratios" -eq 0 ]; then
    why="exit status $status"
  elif [ "$ratios" -eq 0 ]; then
    why="printed no ratios"
  fi
  if [ -n "$why" ]; then
    table+=("| $short | the program $why | | | | | failed |")
    bad=1
  fi
  [ "$broken_ratios" -eq 0 ] || bad=1
done

took=$(($(date +%s) - started))
compiler=$(sed -n 's/^set(CMAKE_CXX_COMPILER_ID "\(.*\)")$/\1/p; s/^set(CMAKE_CXX_COMPILER_VERSION "\(.*\)")$/\1/p' \
  "$build"/CMakeFiles/*/CMakeCXXCompiler.cmake 2>/dev/null | head -2 | tr '\n' ' ')
type=$(sed -n 's/^CMAKE_BUILD_TYPE:STRING=//p' "$build/CMakeCache.txt" 2>/dev/null)
flags=$(sed -n "s/^CMAKE_CXX_FLAGS_$(echo "${type:-none}" | tr '[:lower:]' '[:upper:]'):STRING=//p" \
  "$build/CMakeCache.txt" 2>/dev/null)
block=$(
  echo "Taken $(date -u '+%Y-%m-%d %H:%M') UTC by \`bench/run_all.sh\` with $repetitions repetitions" \
    "in $took s: $(nproc) cores, load ${load_before} before and $(cut -d' ' -f1 /proc/loadavg) after;" \
    "${compiler}${type:-no build type}${flags:+ (${flags})}."
  echo
  echo "| program | ratio | median | min-max | n | aim | verdict |"
  echo "|---|---|---|---|---|---|---|"
  printf '%s\n' "${table[@]}"
)
echo
echo "---- table"
printf '%s\n' "$block"
[ -n "${BENCH_TABLE:-}" ] && printf '%s\n' "$block" >"$BENCH_TABLE"
exit "$bad"
