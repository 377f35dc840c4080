#!/bin/sh
# Record and replay of an example program: run it against a fresh xsr-sim
# without the recorder (it must succeed) and against another with it (the
# output must not differ but for the port), then, with no server, once more
# with the scripted double replaying the trace (the output must not differ
# either, and no request may miss).
#   example_roundtrip.sh XSR_SIM RECORD_DIR REAL_XSRCLIENT DOUBLE_DIR WORK_DIR EXAMPLE [ARGS...]
# The program gets "127.0.0.1 PORT" and then ARGS, with @PORT@ in them
# replaced by the server's port; its standard input is empty.
sim=$1
record_dir=$2
real=$3
double_dir=$4
work=$5
example=$6
shift 6
extra="$*"
name=$(basename "$example")
dir="$work/$name"
rm -rf "$dir"
mkdir -p "$dir" || exit 1
. "$(dirname "$0")/../support/xsr_sim.sh"
trap sim_stop EXIT
# A fresh xsr-sim for each run (a run may change the server's state), each
# with a log of its own; its port is in $port.
runs=0
start_sim() {
  runs=$((runs + 1))
  sim_start "$sim" "$dir/sim$runs.log"
  port=$sim_port
}
stop_sim() { sim_stop; }
# The output with the run's port number written as PORT.
run() {
  out=$1
  shift
  # shellcheck disable=SC2046  # the extra arguments hold no blanks
  "$@" "$example" 127.0.0.1 "$port" $(echo "$extra" | sed "s/@PORT@/$port/g") \
    </dev/null >"$dir/$out.raw" 2>"$dir/$out.err"
  rc=$?
  sed "s/$port/PORT/g" "$dir/$out.raw" >"$dir/$out.out"
  sed "s/$port/PORT/g" "$dir/$out.err" >"$dir/$out.errn"
  return $rc
}

start_sim
run plain env
plain_rc=$?
stop_sim
start_sim
run recorded env LD_LIBRARY_PATH="$record_dir" ORQ_XSR_REAL="$real" ORQ_XSR_TRACE="$dir/run.xt"
recorded_rc=$?
stop_sim
echo "== $name against xsr-sim (exit $plain_rc):"
cat "$dir/plain.out" "$dir/plain.err"
fail=0
# The example must work against the server: a run that fails the same way
# three times over would otherwise pass.
if [ "$plain_rc" != 0 ]; then
  echo "== $name failed against xsr-sim"
  fail=1
fi
if [ "$plain_rc" != "$recorded_rc" ] || ! cmp -s "$dir/plain.out" "$dir/recorded.out" ||
   ! cmp -s "$dir/plain.errn" "$dir/recorded.errn"; then
  echo "== recording changed the run (exit $recorded_rc):"
  diff "$dir/plain.out" "$dir/recorded.out"
  diff "$dir/plain.errn" "$dir/recorded.errn"
  fail=1
fi
if [ ! -s "$dir/run.xt" ]; then
  echo "== no trace was written"
  exit 1
fi

# The node records of cluster adds and descriptions carry user admin and
# password admin: recorded without ORQ_XSR_TRACE_SECRETS, the password is
# masked (hex of "admin NUL admin NUL" never appears).
if grep -q 61646d696e0061646d696e00 "$dir/run.xt"; then
  echo "== the trace holds a node password as it travelled"
  fail=1
fi

# No server now: every answer comes from the trace.
# The port is the recorded run's: opens match by server and port.
run replayed env LD_LIBRARY_PATH="$double_dir" XSR_DOUBLE_REPLAY="$dir/run.xt"
replayed_rc=$?
if [ "$plain_rc" != "$replayed_rc" ] || ! cmp -s "$dir/plain.out" "$dir/replayed.out" ||
   ! cmp -s "$dir/plain.errn" "$dir/replayed.errn"; then
  echo "== the replay differs (exit $replayed_rc):"
  diff "$dir/plain.out" "$dir/replayed.out"
  diff "$dir/plain.errn" "$dir/replayed.errn"
  fail=1
fi
[ $fail -eq 0 ] && echo "== recorded $(wc -l <"$dir/run.xt") calls; the recorded and the replayed run match"
exit $fail
