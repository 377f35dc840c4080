#!/bin/sh
# Runs a Windows program under Wine in a given prefix, for the tests:
#   wine-run.sh LOADER PREFIX PROGRAM [ARGUMENTS...]
# LOADER is Wine's loader for the program's width: "wine" for 32-bit
# programs, the 64-bit loader (Debian: /usr/lib/wine/wine64) for 64-bit ones,
# which needs nothing 32-bit from the machine. Prints the program's output
# and exits with its exit code.
#
# Wine starts helper processes (its server, services) that live on for a
# while after a program ends and inherit the program's output. So the
# program writes to a file, and only this script holds the caller's output:
# ctest sees the end as soon as the program has ended. The prefix is created
# when missing, and a wineserver is kept up until 30 s after its last
# program, so programs start quickly.
loader=$1
prefix=$2
shift 2
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# Wine's own helpers (wineboot, services) start through WINELOADER; with the
# 64-bit loader they must not fall back to the 32-bit one.
case "$loader" in
  */*) export WINELOADER="$loader" ;;
esac
# A 32-bit prefix (WINEARCH=win32, as scripts/wine32.sh runs programs) is
# made anew where an earlier run left one for 64-bit programs.
if [ "${WINEARCH:-}" = win32 ] && [ -f "$prefix/system.reg" ] && ! grep -q '^#arch=win32' "$prefix/system.reg"; then
  wineserver -k >/dev/null 2>&1
  rm -rf "$prefix"
fi
mkdir -p "$prefix" || exit 1
out=$(mktemp) || exit 1
trap 'rm -f "$out"' EXIT
wineserver -p30 >/dev/null 2>&1 </dev/null  # fails harmlessly when one is up
if [ ! -f "$prefix/system.reg" ]; then
  "$loader" wineboot -i >"$out" 2>&1 </dev/null || { cat "$out"; exit 1; }
  # A new prefix holds a copy of each of Wine's own DLLs (about 550 MB). With
  # a Wine unpacked into a tree of its own (scripts/wine32.sh: the loader is
  # TREE/usr/lib/wine/wine), the copies that are byte for byte that tree's
  # files become hard links to them: stored once. Never done with the
  # machine's own Wine, whose files are not ours to link.
  case "$loader" in
    ?*/usr/lib/wine/wine)
      dlls=${loader%/usr/lib/wine/wine}/usr/lib/i386-linux-gnu/wine/i386-windows
      if [ -d "$dlls" ]; then
        for f in "$prefix"/drive_c/windows/system32/*; do
          b=$dlls/${f##*/}
          [ -f "$f" ] && [ ! -L "$f" ] && [ -f "$b" ] && [ ! -L "$b" ] && cmp -s "$f" "$b" && ln -f "$b" "$f"
        done
      fi ;;
  esac
fi
"$loader" "$@" >"$out" 2>&1 </dev/null
rc=$?
# Wine now and then fails to start the program at all on a loaded machine
# ("Application could not be started", while its server comes and goes, or
# a failure in a tenth of a second with nothing written, seen while several
# programs started at once); the program never ran, so it is started once
# more, and the line below says so in the test's output.
if [ $rc -ne 0 ] && { grep -q "^Application could not be started" "$out" || [ ! -s "$out" ]; }; then
  echo "wine-run.sh: Wine did not start $1 (exit code $rc); starting it once more" >&2
  "$loader" "$@" >"$out" 2>&1 </dev/null
  rc=$?
fi
cat "$out"
exit $rc
