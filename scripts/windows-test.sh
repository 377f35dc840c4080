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
# can run. 32-bit ones run under 32-bit Wine as scripts/wine32.sh finds it:
# installed where the machine runs 32-bit programs, otherwise unpacked into
# build/wine32 and run on user-mode emulation in a namespace of its own; the
# 32-bit tests run inside `scripts/wine32.sh`, in a 32-bit prefix
# (WINEARCH=win32) made by the 32-bit loader. Before them a tiny 32-bit
# program is run there with a short time limit. Where 32-bit Wine cannot run
# at all, the 32-bit DLL is still built (with its build-time layout and
# export checks) and the checks that need no Wine still run (export and
# import tables, the .def); the tests under Wine are skipped with one line
# saying why.
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
probe_limit=60  # seconds; a 32-bit program that starts at all is done in 1 or 2 (emulated: 1 to 5)
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

# Whether 32-bit Windows programs run here: scripts/wine32.sh's verdict
# (taken from scripts/test.sh, which probes once for every step), then a tiny
# 32-bit program under that Wine in PREFIX, which the 32-bit loader creates
# first (so that the time limit covers the program alone). Returns 0 when it
# ran and sets `loader`; otherwise sets `reason`.
reason="" loader=""
can_run_32bit() {
  local build=$1 prefix=$2 out rc=0
  eval "$(scripts/wine32.sh probe)"
  if [ "$ORQ_WINE32_MODE" = none ]; then
    reason=$ORQ_WINE32_REASON
    return 1
  fi
  loader=$ORQ_WINE32_LOADER
  i686-w64-mingw32-gcc-posix -o "${build}/wine-probe.exe" tests/windows/wine_probe.c
  scripts/wine32.sh sh tests/windows/wine-run.sh "${loader}" "${prefix}" wineboot -i >/dev/null
  out=$(scripts/wine32.sh timeout -k 5 "${probe_limit}" sh tests/windows/wine-run.sh "${loader}" "${prefix}" \
          "${build}/wine-probe.exe" 2>&1) || rc=$?
  [ "$rc" -eq 0 ] && [[ "$out" == *"wine-probe 32-bit"* ]] && return 0
  classify_32bit_failure "$rc" "$out"
  stop_wine
  return 1
}

run_target() {
  local arch=$1 build toolchain wine_tests=ON wrap=() settings=()
  case "$arch" in
    x64) build=build/windows64 toolchain=cmake/toolchain-mingw64.cmake ;;
    x86) build=build/windows toolchain=cmake/toolchain-mingw32.cmake ;;
    *) echo "unknown Windows target '$arch' (x64 or x86)" >&2; exit 2 ;;
  esac
  local prefix="$PWD/${build}/wine"
  prefixes+=("$prefix")
  echo "==== windows ${arch} (${build}) ===="
  mkdir -p "${build}"
  if [ "$arch" = x86 ]; then
    if can_run_32bit "${build}" "${prefix}"; then
      # The loader of this run: `wine`, or the one unpacked in build/wine32.
      wrap=(scripts/wine32.sh) settings=("-DORQ_WINE_LOADER=${loader}")
    else
      wine_tests=OFF
    fi
  fi
  # The toolchain file only for a new build: CMake reads it on the first
  # configure alone and would call it unused on a later one.
  local first=()
  [ -f "${build}/CMakeCache.txt" ] || first=("-DCMAKE_TOOLCHAIN_FILE=${toolchain}")
  cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_WERROR=ON -DORQ_TEST_DEBUG_INFO=NONE "${first[@]}" "-DORQ_XSR_SIM=${sim}" \
    "-DORQ_WINE_PREFIX=${prefix}" "-DORQ_WINE_TESTS=${wine_tests}" "${settings[@]}" >/dev/null
  cmake --build "${build}" -j "${jobs}"
  "${wrap[@]}" ctest --test-dir "${build}" --output-on-failure -j "${jobs}" --timeout 300
  # Each program ran its cases in one process: count them, and fail a program
  # that ran none.
  [ "$wine_tests" = OFF ] || python3 tests/count_cases.py "${build}" "windows ${arch}"
  # A second configure must leave nothing to rebuild here either.
  scripts/test-reconfigure.sh "${build}"
  if [ "$wine_tests" = OFF ]; then
    local where="they run in the 64-bit build: scripts/windows-test.sh x64"
    [ "$ran_x64" -eq 1 ] && where="the 64-bit build (build/windows64) ran them under wine64"
    echo "windows x86: 32-bit tests under Wine SKIPPED: 32-bit Wine cannot run here (${reason}); the 32-bit DLL was built and checked without Wine (layouts, exports, imports, .def); ${where}"
  fi
  [ "$arch" = x64 ] && ran_x64=1
  return 0
}

for t in "${targets[@]}"; do
  run_target "$t"
done
