#!/bin/sh
# The example program as an application ships it (ORQExtClient.dll beside
# our networked XSRClient.dll, over Winsock) under Wine, against the loopback
# server xsr-sim of a native build: server status, connect, send to the Echo
# module, disconnect.
#   example_e2e.sh XSR_SIM WINE_RUN LOADER PREFIX EXAMPLE
sim=$1
wine_run=$2
loader=$3
prefix=$4
example=$5
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
# Windows programs end their lines with CR LF.
sh "$wine_run" "$loader" "$prefix" "$example" 127.0.0.1 "$port" admin admin >"$log.out" 2>&1
rc=$?
out=$(tr -d '\r' <"$log.out")
echo "$out"
[ $rc -eq 0 ] || exit $rc
# The Echo module sends the payload back.
echo "$out" | grep -q '^send to Echo: result 0, answer 5 bytes: hello$'
