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
# The loopback server of the native build, when scripts/test.sh has built it:
# the example program then also runs end to end under Wine against it.
sim=""
[ -x build/release/sim/xsr-sim ] && sim="$PWD/build/release/sim/xsr-sim"
echo "==== windows (${build}) ===="
cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw32.cmake "-DORQ_XSR_SIM=${sim}" >/dev/null
cmake --build "${build}" -j "${jobs}"

# The prefix's wineserver stays up for 30 s after the last program
# (tests/windows/wine-run.sh); stop it when done so nothing is left running.
prefix=$(sed -n 's/^ORQ_WINE_PREFIX:PATH=//p' "${build}/CMakeCache.txt")
stop_wine() {
  WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="${prefix}" wineserver -w >/dev/null 2>&1 || true
}
trap stop_wine EXIT
ctest --test-dir "${build}" --output-on-failure -j "${jobs}" --timeout 300
