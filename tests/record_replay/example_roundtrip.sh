#!/bin/sh
# Record and replay of an example program: run it against a fresh xsr-sim
# without the recorder and against another with it (the output must not
# differ but for the port), then, with no server, once more with the scripted
# double replaying the trace (the output must not differ either, and no
# request may miss).
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
pid=
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
}
trap cleanup EXIT
# A fresh xsr-sim for each run (a run may change the server's state); its
# port is in $port.
# Each server logs to a file of its own, so the port read is never that of
# the server before.
runs=0
start_sim() {
  runs=$((runs + 1))
  log="$dir/sim$runs.log"
  rm -f "$log"
  "$sim" --port 0 >"$log" 2>&1 &
  pid=$!
  port=
  i=0
  while [ $i -lt 100 ] && [ -z "$port" ]; do
    port=$(sed -n 's/^xsr-sim listening port=\([0-9]*\).*/\1/p' "$log" 2>/dev/null)
    [ -n "$port" ] || sleep 0.1
    i=$((i + 1))
  done
  if [ -z "$port" ]; then
    echo "xsr-sim did not start:"
    cat "$log"
    exit 1
  fi
}
stop_sim() {
  kill -TERM "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  pid=
}
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
