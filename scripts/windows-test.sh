#!/usr/bin/env bash
# The Windows step: cross-builds ORQExtClient.dll, XSRClient.dll and the test
# programs with MinGW-w64 for 64-bit Windows (build/windows64) and 32-bit
# Windows (build/windows), and runs each build's tests under Wine in a prefix
# of the build's own (<build>/wine).
#   scripts/windows-test.sh [x64] [x86]     (no argument: both, x64 first)
#   scripts/windows-test.sh --dlls          only ORQExtClient.dll and XSRClient.dll of
#                                           both builds (for the NuGet package,
#                                           scripts/test-dotnet.sh), in the same build
#                                           folders, so the full step later reuses them
#
# 64-bit programs run under Wine's 64-bit loader, which every x86-64 machine
# can run. 32-bit ones need a kernel that runs 32-bit programs, which some
# hosts turn off; so before the 32-bit tests a tiny 32-bit program is run
# under Wine with a short time limit. Where it does not run, the 32-bit DLL
# is still built (with its build-time layout and export checks) and the
# checks that need no Wine still run (export and import tables, the .def);
# the tests under Wine are skipped with one line saying why.
#
# ORQ_ASSUME_NO_32BIT=1 makes the probe answer "cannot run 32-bit programs"
# without trying, to see that path on a machine that can run them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --tests --windows
if [ "${1:-}" = --dlls ]; then
  for pair in windows64:toolchain-mingw64 windows:toolchain-mingw32; do
    dir=build/${pair%%:*}
    # Configured as below on its first run; the test options come with the full step.
    [ -f "$dir/CMakeCache.txt" ] || cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      "-DCMAKE_TOOLCHAIN_FILE=cmake/${pair##*:}.cmake" "-DORQ_XSR_SIM=$PWD/build/release/sim/xsr-sim" >/dev/null
    cmake --build "$dir" -j "$(nproc)" --target ORQExtClient XSRClient
  done
  exit 0
fi

jobs=$(nproc)
wine64=/usr/lib/wine/wine64  # Debian's 64-bit loader (package wine64)
[ -x "$wine64" ] || wine64=$(command -v wine64)
probe_limit=30  # seconds; a 32-bit program that starts at all is done in 1 or 2
# The loopback server of the native build: the example programs run end to
# end under Wine against it. Run on its own, this step builds it first.
sim="$PWD/build/release/sim/xsr-sim"
if [ ! -x "$sim" ]; then
  echo "windows: building the native xsr-sim (build/release) for the examples' runs under Wine"
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release --target xsr-sim -j "${jobs}"
fi

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(x64 x86)
ran_x64=0

# The prefix's wineserver stays up for 30 s after the last program
# (tests/windows/wine-run.sh); stop it when done so nothing is left running.
prefixes=()
stop_wine() {
  local p
  for p in "${prefixes[@]}"; do
    WINEPREFIX="$p" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="$p" wineserver -w >/dev/null 2>&1 || true
  done
}
trap stop_wine EXIT

# Sets `reason` from the exit code and output of a 32-bit Wine run that did
# not do what it should.
classify_32bit_failure() {
  local rc=$1 out=$2
  case "$rc:$out" in
    *"Exec format error"*) reason="the kernel refuses them: Exec format error" ;;
    124:* | 137:*) reason="a 32-bit program did not end under Wine within ${probe_limit} s" ;;
    *) reason="a 32-bit program failed under Wine, exit code ${rc}: $(echo "$out" | head -n 1)" ;;
  esac
}

# Whether this machine runs 32-bit Windows programs: first the 32-bit Wine
# loader alone (`wine --version`, no prefix needed: a kernel without 32-bit
# support refuses it at once), then a tiny 32-bit program in PREFIX, which
# is created first with the 64-bit loader so that the time limit covers the
# program alone. Returns 0 when it ran; otherwise sets `reason`.
reason=""
can_run_32bit() {
  local build=$1 prefix=$2 out rc=0
  if [ "${ORQ_ASSUME_NO_32BIT:-0}" != 0 ]; then
    reason="ORQ_ASSUME_NO_32BIT=${ORQ_ASSUME_NO_32BIT} says so"
    return 1
  fi
  # install-deps.sh leaves wine32 out where a 32-bit program does not run.
  if ! dpkg -s wine32:i386 >/dev/null 2>&1; then
    reason="wine32 is not installed: scripts/install-deps.sh found that a 32-bit program does not run here"
    return 1
  fi
  out=$(WINEDEBUG=-all timeout -k 5 "${probe_limit}" wine --version 2>&1) || rc=$?
  if [ "$rc" -ne 0 ]; then
    classify_32bit_failure "$rc" "$out"
    return 1
  fi
  i686-w64-mingw32-gcc-posix -o "${build}/wine-probe.exe" tests/windows/wine_probe.c
  if [ ! -f "${prefix}/system.reg" ]; then
    sh tests/windows/wine-run.sh "${wine64}" "${prefix}" wineboot -i >/dev/null
  fi
  out=$(timeout -k 5 "${probe_limit}" sh tests/windows/wine-run.sh wine "${prefix}" \
          "${build}/wine-probe.exe" 2>&1) || rc=$?
  [ "$rc" -eq 0 ] && [[ "$out" == *"wine-probe 32-bit"* ]] && return 0
  classify_32bit_failure "$rc" "$out"
  stop_wine
  return 1
}

run_target() {
  local arch=$1 build toolchain wine_tests=ON
  case "$arch" in
    x64) build=build/windows64 toolchain=cmake/toolchain-mingw64.cmake ;;
    x86) build=build/windows toolchain=cmake/toolchain-mingw32.cmake ;;
    *) echo "unknown Windows target '$arch' (x64 or x86)" >&2; exit 2 ;;
  esac
  local prefix="$PWD/${build}/wine"
  prefixes+=("$prefix")
  echo "==== windows ${arch} (${build}) ===="
  mkdir -p "${build}"
  if [ "$arch" = x86 ] && ! can_run_32bit "${build}" "${prefix}"; then
    wine_tests=OFF
  fi
  # The toolchain file only for a new build: CMake reads it on the first
  # configure alone and would call it unused on a later one.
  local first=()
  [ -f "${build}/CMakeCache.txt" ] || first=("-DCMAKE_TOOLCHAIN_FILE=${toolchain}")
  cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_WERROR=ON "${first[@]}" "-DORQ_XSR_SIM=${sim}" \
    "-DORQ_WINE_PREFIX=${prefix}" "-DORQ_WINE_TESTS=${wine_tests}" >/dev/null
  cmake --build "${build}" -j "${jobs}"
  ctest --test-dir "${build}" --output-on-failure -j "${jobs}" --timeout 300
  # A second configure must leave nothing to rebuild here either.
  scripts/test-reconfigure.sh "${build}"
  if [ "$wine_tests" = OFF ]; then
    local where="they run in the 64-bit build: scripts/windows-test.sh x64"
    [ "$ran_x64" -eq 1 ] && where="the 64-bit build (build/windows64) ran them under wine64"
    echo "windows x86: 32-bit tests under Wine SKIPPED: this machine cannot run 32-bit programs (${reason}); the 32-bit DLL was built and checked without Wine (layouts, exports, imports, .def); ${where}"
  fi
  [ "$arch" = x64 ] && ran_x64=1
  return 0
}

for t in "${targets[@]}"; do
  run_target "$t"
done
