#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs each one, two at a time, from its
# seed corpus in tests/fuzz/corpus. Usage:
#   scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]      (default 20 s, every target)
# ZELTO_FUZZ_RUNS=N also stops each target after N executions; ZELTO_FUZZ_JOBS sets how many
# run at once. New inputs go to build/fuzz/corpus, crashes to build/fuzz/artifacts; the seed
# corpus is never written. Exits non-zero when any target fails.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

SECONDS_PER_TARGET="${1:-20}"
shift || true
JOBS="${ZELTO_FUZZ_JOBS:-2}"
BUILD=build/fuzz

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)"

if [ "$#" -gt 0 ]; then
  TARGETS=("$@")
else
  TARGETS=()
  for dir in tests/fuzz/corpus/*/; do TARGETS+=("$(basename "$dir")"); done
fi

mkdir -p "$BUILD/artifacts" "$BUILD/logs"
run_target() {
  local name="$1" log="$BUILD/logs/$1.log"
  local work="$BUILD/corpus/$name"
  mkdir -p "$work"
  local extra=()
  [ -n "${ZELTO_FUZZ_RUNS:-}" ] && extra+=("-runs=$ZELTO_FUZZ_RUNS")
  if "$BUILD/tests/fuzz/fuzz_$name" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$BUILD/artifacts/$name-" \
      "${extra[@]}" "$work" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    local runs
    runs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")"
    echo "fuzz_$name: ok, ${runs:-?} executions"
  else
    echo "fuzz_$name: FAILED (log: $log)"
    grep -E 'ERROR|property failed|SUMMARY|Test unit written' "$log" | head -n 8
    return 1
  fi
}

failed=0
running=0
for name in "${TARGETS[@]}"; do
  run_target "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$JOBS" ]; then
    wait -n || failed=1
    running=$((running - 1))
  fi
done
while [ "$running" -gt 0 ]; do
  wait -n || failed=1
  running=$((running - 1))
done
exit "$failed"
