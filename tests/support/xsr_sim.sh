# Starting and stopping xsr-sim from the test and benchmark scripts: sourced
# by sh and bash scripts alike.
#
#   sim_start SIM LOG   starts the program SIM on a free loopback port with
#                       its output in LOG, and sets sim_pid and sim_port; a
#                       server that does not come up within 10 s ends the
#                       calling script (exit 1) with its log shown. Give each
#                       server a log file of its own, so that the port read
#                       is never that of a server before.
#   sim_stop            stops the server (SIGTERM) and waits for it.
sim_pid=
sim_port=
sim_start() {
  rm -f "$2"
  "$1" --port 0 >"$2" 2>&1 &
  sim_pid=$!
  sim_port=
  _sim_tries=0
  while [ $_sim_tries -lt 100 ]; do
    sim_port=$(sed -n 's/^xsr-sim listening port=\([0-9]*\).*/\1/p' "$2" 2>/dev/null)
    [ -n "$sim_port" ] && return 0
    kill -0 "$sim_pid" 2>/dev/null || break
    sleep 0.1
    _sim_tries=$((_sim_tries + 1))
  done
  echo "xsr-sim did not start:" >&2
  cat "$2" >&2
  exit 1
}
sim_stop() {
  [ -n "$sim_pid" ] || return 0
  kill -TERM "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=
}
