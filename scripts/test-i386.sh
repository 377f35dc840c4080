#!/usr/bin/env bash
# The 32-bit Linux step: cross-builds the library, the double, the networked
# XSRClient, xsr-sim, orqext, the examples and the test programs for i386
# (build/linux-i386, cmake/toolchain-linux-i386.cmake) and runs their tests
# under user-mode emulation (qemu-i386), so that 32-bit code runs on a
# machine that cannot run 32-bit programs itself (docs/linux-i386.md): the
# unit suites, the end-to-end suites against the 32-bit xsr-sim and the
# suite and the examples also against the 64-bit one of build/release, the
# record layouts measured at run time, and the example programs. Benchmarks
# (their figures would mean nothing under emulation) and fuzz targets are
# not built for it.
#
# Before the build a tiny static 32-bit program runs under qemu-i386 with a
# time limit; where it does not, the step says why in one line and ends with
# success. ORQ_ASSUME_NO_QEMU=1 makes it take that path without trying.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --i386

build=build/linux-i386
jobs=$(nproc)
probe_limit=30  # seconds; the probe is done in a fraction of one
start=$SECONDS

# Test cases left out under emulation, as GoogleTest patterns, each with the
# reason (the build's ORQ_TEST_EXCLUDE).
excluded=(
  # A death test in GoogleTest's threadsafe style: the child starts the test
  # program again (execv of itself), which the kernel refuses for a 32-bit
  # program (the emulator is not registered with binfmt_misc here). The same
  # unload with a worker blocked in the server, through dlclose instead of
  # at process exit, runs (AsyncUnloadTest.DlcloseWithAWorkerBlocked...).
  'AsyncUnloadTest.ProcessExitWithAWorkerBlockedInTheServerEndsCleanly'
)

# --- Can emulation start? ---------------------------------------------------------
mkdir -p "$build"
i686-linux-gnu-gcc -static -o "$build/qemu-probe" tests/linux-i386/qemu_probe.c
reason=""
if [ "${ORQ_ASSUME_NO_QEMU:-0}" != 0 ]; then
  reason="ORQ_ASSUME_NO_QEMU=${ORQ_ASSUME_NO_QEMU} says so"
else
  rc=0
  out=$(timeout -k 5 "${probe_limit}" qemu-i386 "$build/qemu-probe" 2>&1) || rc=$?
  if [ "$rc" -ne 0 ] || [ "$out" != "qemu-probe 32-bit" ]; then
    case "$rc" in
      124 | 137) reason="a static 32-bit program did not end under qemu-i386 within ${probe_limit} s" ;;
      *) reason="a static 32-bit program under qemu-i386 gave exit code ${rc}: $(echo "$out" | head -n 1)" ;;
    esac
  fi
fi
if [ -n "$reason" ]; then
  echo "linux-i386: 32-bit tests under qemu-i386 SKIPPED: emulation cannot start here (${reason})"
  exit 0
fi

# --- The 64-bit server ------------------------------------------------------------
sim="$PWD/build/release/sim/xsr-sim"
if [ ! -x "$sim" ]; then
  echo "linux-i386: building the native xsr-sim (build/release) for the runs against the 64-bit server"
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build build/release --target xsr-sim -j "${jobs}"
fi

# --- Build and run ----------------------------------------------------------------
echo "==== linux-i386 (${build}, under qemu-i386) ===="
# The optimisation of the release build without its debug information:
# nothing of this tree is shipped or debugged, its programs only run under
# the emulator (the test programs are stripped as well).
cmake -S . -B "$build" -G Ninja --no-warn-unused-cli -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -DNDEBUG" \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake -DORQ_BUILD_BENCHMARKS=OFF -DORQ_WERROR=ON -DORQ_TEST_DEBUG_INFO=NONE \
  "-DORQ_NATIVE_XSR_SIM=${sim}" "-DORQ_TEST_EXCLUDE=$(IFS=:; echo "${excluded[*]}")" >/dev/null
cmake --build "$build" -j "${jobs}"
built=$((SECONDS - start))
# Each test program is one test here, its cases in one process under the
# emulator (ORQ_TESTS_PER_PROGRAM): a start under qemu-i386 costs more than
# most cases.
ctest --test-dir "$build" --output-on-failure -j "${jobs}" --timeout 600
# A second configure must leave nothing to rebuild here either.
scripts/test-reconfigure.sh "$build"

# --- What ran ---------------------------------------------------------------------
python3 tests/linux-i386/count_tests.py "$build" "$built" "$((SECONDS - start))" ${excluded[@]+"${excluded[@]}"}
