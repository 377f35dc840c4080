#!/usr/bin/env bash
# Builds and runs every test: the plain build, the whole suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests
# under ThreadSanitizer, the fuzz targets, and the Windows build under Wine.
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
run_suite asan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=address
run_suite tsan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=thread
scripts/test-fuzz.sh
# The 32-bit Windows DLL, cross-built and tested under Wine.
scripts/windows-test.sh
