#!/usr/bin/env bash
# Sets up the release build with its tests, as scripts/test.sh does, unless it
# already has them: a new one, or one that scripts/demo.sh set up without
# them. An up-to-date configured build is left as it is.
#   scripts/configure-release.sh [build directory]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
if ! grep -qx 'ORQ_BUILD_TESTS:BOOL=ON' "${build}/CMakeCache.txt" 2>/dev/null; then
  cmake -S . -B "${build}" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_BUILD_TESTS=ON >/dev/null
fi
