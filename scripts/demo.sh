#!/usr/bin/env bash
# Builds the library and runs the example program: connect, send and
# disconnect through the scripted XSRClient double.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
LD_LIBRARY_PATH="$PWD/build/release/double" build/release/orqext_example "$@"
