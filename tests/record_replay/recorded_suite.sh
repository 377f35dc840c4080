#!/bin/sh
# The end-to-end suite with the recording XSRClient in place of the networked
# one: every test must pass as it does without it, and the trace it leaves
# must read back whole.
#   recorded_suite.sh E2E_TESTS RECORD_DIR REAL_XSRCLIENT ORQEXT TRACE
tests=$1
record_dir=$2
real=$3
orqext=$4
trace=$5
rm -f "$trace"
LD_LIBRARY_PATH="$record_dir" ORQ_XSR_REAL="$real" ORQ_XSR_TRACE="$trace" "$tests" || exit 1
stats=$("$orqext" trace stats "$trace" --json) || exit 1
echo "$stats" | grep -q '"skipped_lines": 0,' || { echo "$stats"; echo "the trace has lines that do not read back"; exit 1; }
echo "$stats" | grep -q '"torn_tail": false,' || { echo "$stats"; echo "the trace ends in a cut line"; exit 1; }
echo "$stats" | grep -q '"records": 0,' && { echo "nothing was recorded"; exit 1; }
echo "recorded $(wc -l <"$trace") calls"
