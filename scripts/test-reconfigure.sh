#!/usr/bin/env bash
# Checks that configuring an up-to-date build again makes the next build do
# nothing: a configure step that rewrites a generated file with the same
# content (the export map, for one) would relink the library and every
# program on each run of scripts/demo.sh or scripts/test.sh.
#   scripts/test-reconfigure.sh [build directory]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests

build=${1:-build/release}
# An existing build keeps its own settings; a new one is set up as
# scripts/test.sh sets up build/release.
configure() {
  if [ -f "${build}/CMakeCache.txt" ]; then
    cmake -S . -B "${build}" >/dev/null
  else
    cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
}
echo "==== reconfigure (${build}) ===="
configure
cmake --build "${build}" -j "$(nproc)" >/dev/null
configure
out=$(cmake --build "${build}" -j "$(nproc)")
# The source globs are re-checked on every build; anything else is work that
# the configure step caused.
work=$(printf '%s\n' "${out}" | grep -E '^\[[0-9]+/[0-9]+\]' | grep -v 'Re-checking globbed directories' || true)
if [ -n "${work}" ] || ! printf '%s\n' "${out}" | grep -q 'no work to do'; then
  echo "FAIL: a second configure left work for the build:"
  printf '%s\n' "${out}"
  exit 1
fi
echo "ok: a second configure leaves nothing to build"
