#!/usr/bin/env bash
# Builds the library, orqext and xsr-sim and runs `orqext demo`: it starts the
# loopback server xsr-sim itself on free ports and walks through the
# library's main abilities (docs/orqext.md). It needs only the compiler,
# CMake and Ninja: a new build/release is set up without the tests (which
# scripts/test.sh turns on); an existing one keeps its settings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
if [ -f build/release/CMakeCache.txt ]; then
  cmake -S . -B build/release >/dev/null
else
  cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_BUILD_TESTS=OFF >/dev/null
fi
cmake --build build/release -j "$(nproc)" --target orqext
build/release/orqext demo "$@"
