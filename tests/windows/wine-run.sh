#!/bin/sh
# Runs a Windows program under Wine in a given prefix, for the tests:
#   wine-run.sh PREFIX PROGRAM [ARGUMENTS...]
# Prints the program's output and exits with its exit code.
#
# Wine starts helper processes (its server, services) that live on for a
# while after a program ends and inherit the program's output. So the
# program writes to a file, and only this script holds the caller's output:
# ctest sees the end as soon as the program has ended. The prefix is created
# when missing, and a wineserver is kept up until 30 s after its last
# program, so programs start quickly.
prefix=$1
shift
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$prefix" || exit 1
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
wineserver -p30 >/dev/null 2>&1 </dev/null  # fails harmlessly when one is up
if [ ! -f "$prefix/system.reg" ]; then
  wine wineboot -i >"$out" 2>&1 </dev/null || { cat "$out"; exit 1; }
fi
wine "$@" >"$out" 2>&1 </dev/null
rc=$?
cat "$out"
exit $rc
