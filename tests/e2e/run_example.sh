#!/bin/sh
# Runs an example program (natively, or under Wine through wine-run.sh)
# against a fresh xsr-sim and checks its output.
#   run_example.sh XSR_SIM PATTERNS_FILE COMMAND...
# COMMAND gets "127.0.0.1 PORT admin admin" appended; every line of
# PATTERNS_FILE is a grep pattern that one line of the output must match.
sim=$1
patterns=$2
shift 2
log=$(mktemp) || exit 1
pid=
cleanup() {
  [ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  rm -f "$log" "$log.out"
}
trap cleanup EXIT
"$sim" --port 0 >"$log" 2>&1 &
pid=$!
port=
i=0
while [ $i -lt 100 ] && [ -z "$port" ]; do
  port=$(sed -n 's/^xsr-sim listening port=\([0-9]*\).*/\1/p' "$log")
  [ -n "$port" ] || sleep 0.1
  i=$((i + 1))
done
if [ -z "$port" ]; then
  echo "xsr-sim did not start:"
  cat "$log"
  exit 1
fi
"$@" 127.0.0.1 "$port" admin admin >"$log.out" 2>&1
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
