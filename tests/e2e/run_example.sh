#!/bin/sh
# Runs an example program (natively, or under Wine through wine-run.sh)
# against a fresh xsr-sim and checks its output.
#   run_example.sh XSR_SIM PATTERNS_FILE COMMAND...
# COMMAND gets "127.0.0.1 PORT admin admin" appended; every line of
# PATTERNS_FILE is a grep pattern that one line of the output must match.
sim=$1
patterns=$2
shift 2
. "$(dirname "$0")/../support/xsr_sim.sh"
log=$(mktemp) || exit 1
cleanup() {
  sim_stop
  rm -f "$log" "$log.out"
}
trap cleanup EXIT
sim_start "$sim" "$log"
"$@" 127.0.0.1 "$sim_port" admin admin >"$log.out" 2>&1
rc=$?
# Windows programs end their lines with CR LF.
out=$(tr -d '\r' <"$log.out")
echo "$out"
[ $rc -eq 0 ] || exit $rc
while IFS= read -r p; do
  [ -z "$p" ] && continue
  if ! echo "$out" | grep -q -- "$p"; then
    echo "missing output: $p"
    exit 1
  fi
done <"$patterns"
