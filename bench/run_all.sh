#!/bin/bash
# Runs every benchmark program of a build, one at a time, with repetitions, and prints each
# program's ratio lines (Ratios.h) as they come; then, after a line "---- table", the block that
# docs/ARCHITECTURE.md "Benchmark figures" holds, pasted as it is: one line of the conditions and
# a Markdown table of every ratio (median, min-max of the repetitions' own ratios, repetitions,
# aim, verdict) and of every row or program that failed. Take the figures on an idle machine.
#
#   bench/run_all.sh [build dir, default build/release] [repetitions, default 5]
#
# The programs are those the build lists in bench/programs.txt (every fx_bench of bench/*.cmake);
# one the build did not make, or a name in BENCH_ONLY that is none of them, stops the run before
# anything runs. Each program runs in a session of its own, its output in a file: at its time
# limit its process group is sent SIGTERM, then SIGKILL 15 s later; once it has ended, whatever it
# left running in its session (a peer in a process group of its own) is killed, so that nothing it
# started holds the run up or runs on into the next program.
#
# Exits 1 when a program failed (an exit status other than 0, killed by a signal, or stopped at its
# time limit), a row failed, or a ratio it declared failed or is missing; missed and unsettled
# aims are figures, not failures. Stopped by SIGINT it exits 130, by SIGTERM 143 (128 + the
# signal's number), the program then running killed with whatever it started.
#
# Environment: BENCH_ONLY='unpack startup' runs only those programs; BENCH_LOG=dir keeps each
# program's whole output there; BENCH_TABLE=file writes the block to that file too;
# BENCH_LIMIT=seconds is each program's time limit (default 600, doubled for bench_kvstore).
set -u
set +m  # no job control: a program started below is no process group leader, so setsid need not fork
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build/release}
repetitions=${2:-5}
limit=${BENCH_LIMIT:-600}
grace=15
bench_dir=$build/bench
if [ ! -d "$bench_dir" ]; then
  echo "no benchmarks in $bench_dir (configure with -DFX_BENCH=ON and build)" >&2
  exit 1
fi
if [ ! -f "$bench_dir/programs.txt" ]; then
  echo "no list of benchmark programs in $bench_dir (configure again with -DFX_BENCH=ON)" >&2
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
    # The receiving turns against Node's ws, the UTF-8 check and the push peaks under a flood (the
    # separate client rows are slow and say less).
    bench_websocket) echo "--benchmark_filter=InTurns|Utf8|PushPeak --benchmark_enable_random_interleaving=true" ;;
    *) echo "--benchmark_enable_random_interleaving=true" ;;
  esac
}
limit_for() {
  case "$1" in
    bench_kvstore) echo $((limit * 2)) ;;
    *) echo "$limit" ;;
  esac
}

known=()
while IFS= read -r name; do
  [ -n "$name" ] && known+=("$name")
done <"$bench_dir/programs.txt"
chosen=("${known[@]}")
if [ -n "${BENCH_ONLY:-}" ]; then
  chosen=()
  unknown=()
  for word in $BENCH_ONLY; do
    name=bench_${word#bench_}
    case " ${known[*]} " in
      *" $name "*) chosen+=("$name") ;;
      *) unknown+=("$word") ;;
    esac
  done
  if [ ${#unknown[@]} -gt 0 ]; then
    echo "BENCH_ONLY names no such program: ${unknown[*]} (the programs: ${known[*]#bench_})" >&2
    exit 1
  fi
fi
programs=()
unbuilt=()
for name in "${known[@]}"; do
  case " ${chosen[*]} " in *" $name "*) ;; *) continue ;; esac
  if [ -f "$bench_dir/$name" ] && [ -x "$bench_dir/$name" ]; then
    programs+=("$bench_dir/$name")
  else
    unbuilt+=("$name")
  fi
done
if [ ${#unbuilt[@]} -gt 0 ]; then
  echo "not built: ${unbuilt[*]} (cmake --build $build --target ${unbuilt[*]})" >&2
  exit 1
fi
if [ ${#programs[@]} -eq 0 ]; then
  echo "no benchmark programs to run in $bench_dir" >&2
  exit 1
fi

work=$(mktemp -d "$bench_dir/.run_all.XXXXXX")  # (not in /tmp, which others may sweep)
running=
# The processes still running in the session whose id is the first argument (zombies, which only
# wait to be reaped, left out).
session_processes() {
  ps -e -o pid=,sid=,stat= | awk -v session="$1" '$2 == session && $3 !~ /^Z/ { print $1 }'
}
# Kills what is left of the session whose id is the first argument; prints how many processes
# that took.
sweep() {
  local left pid round seen=" "
  for round in 1 2 3 4 5; do
    left=$(session_processes "$1")
    [ -n "$left" ] || break
    for pid in $left; do
      [[ $seen == *" $pid "* ]] || seen+="$pid "
    done
    # shellcheck disable=SC2086
    kill -KILL $left 2>/dev/null
  done
  wc -w <<<"$seen"
}
finish() {
  if [ -n "$running" ]; then
    kill -KILL -- "-$running" "$running" 2>/dev/null
    sweep "$running" >/dev/null
  fi
  rm -rf "$work"
}
trap finish EXIT
# Stopped by a signal, it ends as a program that signal ends would report: 128 + its number.
trap 'exit 130' INT
trap 'exit 143' TERM

# Runs a program (the first argument) with the rest of the arguments in a session of its own,
# output in file `$output`, for at most `$seconds`; sets `status` and `stopped` (1 when it met the limit) and
# `strays` (what it left running, now killed).
run_program() {
  local program=$1 timer ended
  shift
  setsid "$program" "$@" </dev/null >"$output" 2>&1 &
  running=$!
  sleep "$seconds" &
  timer=$!
  stopped=0
  wait -n -p ended "$running" "$timer" 2>/dev/null  # (no word of a signal: the report tells it)
  status=$?
  if [ "${ended:-}" != "$running" ]; then
    stopped=1
    # (the program itself too, in case it has not made its session yet)
    kill -TERM -- "-$running" "$running" 2>/dev/null
    sleep "$grace" &
    timer=$!
    ended=
    wait -n -p ended "$running" "$timer" 2>/dev/null
    status=$?
    if [ "${ended:-}" != "$running" ]; then
      kill -KILL -- "-$running" "$running" 2>/dev/null
      wait "$running" 2>/dev/null
      status=$?
    fi
  fi
  kill -KILL "$timer" 2>/dev/null  # (SIGTERM could land before the sleep exists, and be lost)
  wait "$timer" 2>/dev/null
  strays=$(sweep "$running")
  running=
}

# The line Ratios.h prints: value, min, max, repetitions, then the aim (padded) and the name.
figures='^ratio +([0-9.]+) +min +([0-9.]+) +max +([0-9.]+) +n +([0-9]+) (.*)$'
broken='^ratio +(failed|missing) +(.*)$'
failed_row='^row +failed +(.*)$'
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
  output=$work/$name.txt
  begin=$(date +%s)
  run_program "$program" "${common[@]}" "${extra[@]}"
  [ -n "${BENCH_LOG:-}" ] && mkdir -p "$BENCH_LOG" && cp "$output" "$BENCH_LOG/$name.txt"
  took=$(($(date +%s) - begin))
  ended_how=
  if [ "$stopped" -eq 1 ]; then
    ended_how="stopped at its time limit of $seconds s"
  elif [ "$status" -gt 128 ]; then
    ended_how="killed by signal $((status - 128)) (SIG$(kill -l $((status - 128)) 2>/dev/null || echo '?'))"
  elif [ "$status" -ne 0 ]; then
    ended_how="exit status $status"
  fi
  left=
  [ "$strays" -eq 0 ] || left=", left $strays processes running: killed"
  if [ -z "$ended_how" ]; then
    echo "== $name ($took s$left)"
  else
    echo "== $name ($took s, $ended_how$left)"
    grep -v -e '^ratio ' -e '^row ' "$output" | tail -5
  fi
  ratios=0
  explained=0
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    echo "$line"
    if [[ $line =~ $figures ]]; then
      ratios=$((ratios + 1))
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
          *" unsettled") verdict=unsettled aim=${aim% unsettled} ;;
        esac
      fi
      table+=("| $short | $rest | ${BASH_REMATCH[1]} | ${BASH_REMATCH[2]}-${BASH_REMATCH[3]} | ${BASH_REMATCH[4]} | $aim | $verdict |")
    elif [[ $line =~ $broken ]]; then
      ratios=$((ratios + 1))
      explained=$((explained + 1))
      table+=("| $short | ${BASH_REMATCH[2]} | | | | | ${BASH_REMATCH[1]} |")
    elif [[ $line =~ $failed_row ]]; then
      explained=$((explained + 1))
      table+=("| $short | row ${BASH_REMATCH[1]} | | | | | failed |")
    fi
  done < <(grep -e '^ratio ' -e '^row ' "$output")
  why=
  if [ "$stopped" -eq 1 ] || [ "$status" -gt 128 ]; then
    why=$ended_how
  elif [ "$status" -ne 0 ] && [ "$explained" -eq 0 ]; then
    why=$ended_how
  elif [ "$ratios" -eq 0 ]; then
    why="printed no ratios"
  fi
  if [ -n "$why" ]; then
    table+=("| $short | the program: $why | | | | | failed |")
    bad=1
  fi
  [ "$status" -eq 0 ] && [ "$explained" -eq 0 ] || bad=1
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
