#!/usr/bin/env bash
# Builds and runs every test: the plain build, the reference of the exports
# (scripts/test-docs.sh), the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, every test that starts a
# thread under ThreadSanitizer, the fuzz targets (scripts/test-fuzz.sh),
# and the 64-bit and 32-bit Windows builds under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
run_suite() {
  local name=$1; shift
  echo "==== ${name} ===="
  cmake -S . -B "build/${name}" -G Ninja "$@" >/dev/null
  cmake --build "build/${name}" -j "${jobs}"
  ctest --test-dir "build/${name}" --output-on-failure -j "${jobs}" --timeout 300
}

run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo
# A second configure of the release build must leave nothing to rebuild.
scripts/test-reconfigure.sh build/release
scripts/test-docs.sh
# The Python package, over the release build.
scripts/test-python.sh
# The .NET binding with Mono, over the release build.
scripts/test-dotnet.sh
# orqext's interactive shell through tmux (skipped, saying so, without tmux).
scripts/test-orqext-shell.sh
run_suite asan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=address
run_suite tsan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=thread
scripts/test-fuzz.sh
# The 64-bit and 32-bit Windows DLLs, cross-built and tested under Wine (the
# 32-bit Wine tests only where this machine can run 32-bit programs).
scripts/windows-test.sh
# The 32-bit Linux build and its tests under user-mode emulation (qemu-i386).
scripts/test-i386.sh
scripts/test-bench.sh
# The installed library, its consumers, the packages and the ABI guard.
scripts/test-packaging.sh
