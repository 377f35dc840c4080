#!/usr/bin/env bash
# The ABI guard: compares the public ABI of the libraries installed under
# PREFIX (library, public headers) with the baseline kept in abi/, and fails
# on any change other than added functions. docs/packaging.md says when and
# how to update the baseline.
#   scripts/abi-guard.sh PREFIX             compare
#   scripts/abi-guard.sh --update PREFIX    write abi/ anew from PREFIX
# PREFIX must hold libraries with their debugging information (a plain
# `cmake --install`, not --strip).
set -euo pipefail
cd "$(dirname "$0")/.."

update=0
if [ "${1:-}" = "--update" ]; then
  update=1
  shift
fi
prefix=${1:?usage: scripts/abi-guard.sh [--update] PREFIX}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# What the ABI of one library is: its exported functions and the types they
# reach through the installed headers, without paths of this machine.
abi_of() {
  abidw --headers-dir "$prefix/include" --drop-private-types --exported-interfaces-only \
    --no-corpus-path --no-comp-dir-path --no-show-locs --drop-undefined-syms --no-elf-needed \
    --out-file "$2" "$1"
}

failed=0
for lib in libORQExtClient libXSRClientDouble; do
  so=$(readlink -f "$prefix/lib/$lib.so")
  soname=$(readelf -d "$so" | sed -n 's/.*Library soname: \[\(.*\)\]/\1/p')
  baseline=abi/$soname.abi
  abi_of "$so" "$tmp/$soname.abi"
  if [ "$update" -eq 1 ]; then
    mkdir -p abi
    # Source paths as a build folder two levels below the source tree sees
    # them, not this machine's.
    sed "s|path='$PWD/|path='../../|" "$tmp/$soname.abi" >"$baseline"
    echo "abi: wrote $baseline"
    continue
  fi
  if [ ! -f "$baseline" ]; then
    echo "abi: $soname has no baseline ($baseline); a new major version needs one: scripts/abi-guard.sh --update PREFIX"
    failed=1
    continue
  fi
  # abidiff's status is a bit set: 1 error, 2 usage, 4 change, 8 incompatible
  # change. Added functions alone are a change that older programs do not
  # see: compared once more without them, nothing may be left.
  set +e
  abidiff "$baseline" "$tmp/$soname.abi" >"$tmp/diff" 2>&1
  rc=$?
  set -e
  if [ $((rc & 4)) -ne 0 ] && [ $((rc & 11)) -eq 0 ]; then
    set +e
    abidiff --no-added-syms "$baseline" "$tmp/$soname.abi" >"$tmp/diff-kept" 2>&1
    rc=$?
    set -e
    [ "$rc" -eq 0 ] && echo "abi: $soname: functions added (compatible):" && sed 's/^/  /' "$tmp/diff"
  fi
  if [ "$rc" -ne 0 ]; then
    echo "abi: $soname differs from $baseline in a way programs built against it would notice (abidiff status $rc):"
    sed 's/^/  /' "$tmp/diff"
    failed=1
  else
    echo "abi: $soname is compatible with $baseline"
  fi
done
exit $failed
