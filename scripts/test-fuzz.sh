#!/usr/bin/env bash
# The fuzz step of the test suite: builds the libFuzzer targets, replays each
# target's seed corpus and regression inputs (tests/fuzz/), then runs a
# bounded number of fresh inputs per target. A failing input is left in
# build/fuzz/artifacts/<target>/. Longer campaigns: scripts/fuzz.sh.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --fuzz
source scripts/fuzz-common.sh

echo "==== fuzz ===="
fuzz_build

# Fresh inputs per target, sized to the target's speed; the time bound only
# matters on a machine much slower than expected.
declare -A runs=([fuzz_exports]=30000 [fuzz_cluster]=20000 [fuzz_statement]=200000
                 [fuzz_connect_string]=200000 [fuzz_net_reader]=15000 [fuzz_sim_requests]=8000
                 [fuzz_sim_service]=100000)
status=0
for t in "${FUZZ_TARGETS[@]}"; do
  work=$(mktemp -d)
  log="$FUZZ_BUILD/$t.log"
  if fuzz_run "$t" "$work" "$FUZZ_BUILD/artifacts/$t" -runs="${runs[$t]}" -max_total_time=60 \
       -print_funcs=0 >"$log" 2>&1; then
    echo "$t: $(grep -m1 'stat::number_of_executed_units' "$log" | awk '{print $2}') runs, ok"
  else
    echo "$t: FAILED (log: $log)"
    grep -E 'ERROR|check failed|SUMMARY|Test unit written' "$log" | head -20 || true
    status=1
  fi
  rm -rf "$work"
done
exit $status
