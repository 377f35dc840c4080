#!/usr/bin/env bash
# Cross-builds the 32-bit Windows target (ORQExtClient.dll, XSRClient.dll,
# the test programs) with MinGW-w64 and runs the tests under Wine, in a Wine
# prefix of the build's own (build/windows/wine).
#   scripts/windows-test.sh [build directory]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --windows

build=${1:-build/windows}
jobs=$(nproc)
echo "==== windows (${build}) ===="
cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake >/dev/null
cmake --build "${build}" -j "${jobs}"

# The prefix's wineserver outlives the last program by a few seconds; stop it
# when done so nothing is left running.
prefix=$(sed -n 's/^ORQ_WINE_PREFIX:PATH=//p' "${build}/CMakeCache.txt")
stop_wine() { WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true; }
trap stop_wine EXIT
ctest --test-dir "${build}" --output-on-failure -j "${jobs}" --timeout 300
