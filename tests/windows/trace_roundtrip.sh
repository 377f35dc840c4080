#!/bin/sh
# Record and replay of an example program under Wine, as an application
# ships it: against a fresh loopback server xsr-sim of a native build, first
# with our networked XSRClient.dll beside it, then (another fresh server)
# with the recording XSRClient.dll beside it and the networked one beside
# that as XSRClient-real.dll: no difference but for the port. Then, with no
# server, with the scripted double's XSRClient.dll replaying the trace: no
# difference.
#   trace_roundtrip.sh XSR_SIM WINE_RUN LOADER PREFIX WORK_DIR EXAMPLE ORQEXT_DLL NET_DLL RECORDER_DLL DOUBLE_DLL
# (WINE_RUN LOADER PREFIX: tests/windows/wine-run.sh and its first two
# arguments.)
sim=$1
wine_run=$2
loader=$3
prefix=$4
work=$5
example=$6
orqext_dll=$7
net_dll=$8
recorder_dll=$9
shift 9
double_dll=$1
exe=$(basename "$example")
rm -rf "$work"
mkdir -p "$work/plain" "$work/record" "$work/replay" || exit 1
for d in plain record replay; do cp "$example" "$orqext_dll" "$work/$d/" || exit 1; done
cp "$net_dll" "$work/plain/XSRClient.dll" &&
  cp "$recorder_dll" "$work/record/XSRClient.dll" &&
  cp "$net_dll" "$work/record/XSRClient-real.dll" &&
  cp "$double_dll" "$work/replay/XSRClient.dll" || exit 1
. "$(dirname "$0")/../support/xsr_sim.sh"
trap sim_stop EXIT
# A fresh xsr-sim for each run (a run may change the server's state), each
# with a log of its own; its port is in $port.
runs=0
start_sim() {
  runs=$((runs + 1))
  sim_start "$sim" "$work/sim$runs.log"
  port=$sim_port
}
stop_sim() { sim_stop; }

# Each run in its own folder, so that the DLLs beside the program are the
# ones it loads; the recorder writes xsr-trace.xt in the current folder.
# The output (stdout and stderr: wine-run.sh merges them) with CR LF as LF
# and the run's port written as PORT.
run() {
  (cd "$work/$1" && sh "$wine_run" "$loader" "$prefix" "$exe" 127.0.0.1 "$port" admin admin) >"$work/$1.raw" 2>&1
  rc=$?
  tr -d '\r' <"$work/$1.raw" | sed "s/$port/PORT/g" >"$work/$1.out"
  return $rc
}
start_sim
run plain
plain_rc=$?
stop_sim
start_sim
run record
record_rc=$?
stop_sim
echo "== $exe under Wine against xsr-sim (exit $plain_rc):"
cat "$work/plain.out"
fail=0
[ $plain_rc -eq 0 ] || fail=1
if [ "$plain_rc" != "$record_rc" ] || ! cmp -s "$work/plain.out" "$work/record.out"; then
  echo "== recording changed the run (exit $record_rc):"
  diff "$work/plain.out" "$work/record.out"
  fail=1
fi
if [ ! -s "$work/record/xsr-trace.xt" ]; then
  echo "== no trace was written"
  exit 1
fi
cp "$work/record/xsr-trace.xt" "$work/replay/" || exit 1
XSR_DOUBLE_REPLAY=xsr-trace.xt
export XSR_DOUBLE_REPLAY
# No server now; the port is the recorded run's (opens match by server and port).
run replay
replay_rc=$?
# The double's misses go to stderr, which wine-run.sh merges into the output.
if [ "$plain_rc" != "$replay_rc" ] || ! cmp -s "$work/plain.out" "$work/replay.out"; then
  echo "== the replay differs (exit $replay_rc):"
  diff "$work/plain.out" "$work/replay.out"
  fail=1
fi
[ $fail -eq 0 ] && echo "== recorded $(wc -l <"$work/record/xsr-trace.xt") calls; the recorded and the replayed run match"
exit $fail
