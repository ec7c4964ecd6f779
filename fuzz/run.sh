#!/usr/bin/env bash
# Builds the fuzz targets and runs every one of them for SECONDS, side by
# side, each at the lowest priority. Prints per target the executions, the
# inputs in its corpus and the outcome; exits non-zero if any target found a
# crash, hang, leak or sanitizer report (the input is kept in the work folder,
# ready to become a regression test).
#
#   fuzz/run.sh SECONDS
#
# Environment: TAVIMERE_FUZZ_BUILD (build folder, default build-fuzz),
# TAVIMERE_FUZZ_WORK (corpora, logs and findings, default BUILD/fuzz-work),
# TAVIMERE_FUZZ_TARGETS (space-separated subset), TAVIMERE_FUZZ_JOBS (how
# many run at once, default all).
set -euo pipefail
if [ $# -ne 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]] || [ "$1" -lt 1 ]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="${TAVIMERE_FUZZ_BUILD:-$repo/build-fuzz}"
work="${TAVIMERE_FUZZ_WORK:-$build/fuzz-work}"
targets=(${TAVIMERE_FUZZ_TARGETS:-fuzz_irc_lines fuzz_gateway fuzz_chat_text fuzz_filter fuzz_outgoing fuzz_unscramble})
jobs=${TAVIMERE_FUZZ_JOBS:-${#targets[@]}}

if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$repo" -B "$build" -G Ninja -DTAVIMERE_FUZZ=ON -DTAVIMERE_BENCHMARKS=OFF
fi
nice -n 19 cmake --build "$build" --target "${targets[@]}"

run_one() {
  local target=$1
  local corpus="$work/corpus/$target" findings="$work/findings/$target"
  mkdir -p "$corpus" "$findings"
  # The seeds stay untouched in the repository; new inputs go to the work folder.
  cp -n "$repo/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null || true
  # Our inputs are lines and pages: 64 KiB lets a line pass the reassembler's
  # bounds. An input taking over 10 s is a hang; over 2 GiB, a memory fault.
  QT_QPA_PLATFORM=offscreen nice -n 19 "$build/fuzz/$target" "$corpus" \
    -max_total_time="$seconds" -max_len=65536 -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$findings/" >"$work/logs/$target.log" 2>&1
}

mkdir -p "$work/logs"
declare -A status
pids=()
for target in "${targets[@]}"; do
  while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do sleep 1; done
  run_one "$target" &
  pids+=("$!")
done
for i in "${!targets[@]}"; do
  if wait "${pids[$i]}"; then status[${targets[$i]}]=ok; else status[${targets[$i]}]=FAULT; fi
done

failed=0
printf '%-18s %14s %8s %8s  %s\n' target executions seconds corpus result
for target in "${targets[@]}"; do
  log="$work/logs/$target.log"
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  took=$(sed -n 's/^Done [0-9]* runs in \([0-9]*\) second.*/\1/p' "$log" | tail -1)
  inputs=$(find "$work/corpus/$target" -type f | wc -l)
  result=${status[$target]}
  if [ "$result" != ok ]; then
    failed=1
    result="FAULT: $(grep -m1 -E 'ERROR:|invariant broken|runtime error' "$log" || echo 'see log'); inputs in $work/findings/$target"
  fi
  printf '%-18s %14s %8s %8s  %s\n' "$target" "${runs:-?}" "${took:-?}" "$inputs" "$result"
done
echo "logs: $work/logs"
exit $failed
