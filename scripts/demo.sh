#!/usr/bin/env bash
# Builds everything and runs `orqext demo`: it starts the loopback server
# xsr-sim itself on free ports and walks through the library's main
# abilities (docs/orqext.md).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)"
build/release/orqext demo "$@"
