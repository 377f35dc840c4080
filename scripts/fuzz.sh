#!/usr/bin/env bash
# Longer fuzz campaigns: scripts/fuzz.sh [SECONDS] [TARGET]
# Runs every target (or TARGET) for SECONDS each (default 300), keeping what
# it learns in build/fuzz/corpus/<target>/ between campaigns; failing inputs
# go to build/fuzz/artifacts/<target>/. Set FUZZ_RUNS to stop a target after
# that many inputs instead. Copy an input that found a fault into
# tests/fuzz/regressions/<target>/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --fuzz
source scripts/fuzz-common.sh

seconds=${1:-300}
targets=("${FUZZ_TARGETS[@]}")
[ -n "${2:-}" ] && targets=("$2")
fuzz_build
for t in "${targets[@]}"; do
  log="$FUZZ_BUILD/$t.campaign.log"
  extra=()
  [ -n "${FUZZ_RUNS:-}" ] && extra=(-runs="$FUZZ_RUNS")
  rc=0
  fuzz_run "$t" "$FUZZ_BUILD/corpus/$t" "$FUZZ_BUILD/artifacts/$t" -max_total_time="$seconds" \
    -print_funcs=0 "${extra[@]}" >"$log" 2>&1 || rc=$?
  echo "$t: $(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}') runs," \
       "$(grep -m1 'stat::average_exec_per_sec' "$log" | awk '{print $2}')/s, exit $rc (log: $log)"
done
