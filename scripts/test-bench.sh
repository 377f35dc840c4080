#!/usr/bin/env bash
# Smoke run of the ratio benchmarks, native and for Windows under Wine: they
# build, every call they time gives the expected result, and they print their
# ratios. Timings are not judged here (scripts/bench.sh measures them).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "==== benchmarks: native build (build/release, smoke run) ===="
scripts/bench.sh --smoke
# The 64-bit Windows build: its Wine runs on every machine.
echo "==== benchmarks under Wine: 64-bit Windows build (build/windows64, smoke run) ===="
scripts/bench.sh --smoke --windows64
# The 32-bit one under 32-bit Wine, natively or on emulation
# (scripts/wine32.sh), where either runs.
eval "$(scripts/wine32.sh probe)"
if [ "${ORQ_WINE32_MODE}" = none ]; then
  echo "benchmarks under 32-bit Wine SKIPPED: ${ORQ_WINE32_REASON}"
else
  echo "==== benchmarks under Wine: 32-bit Windows build (build/windows, smoke run, ${ORQ_WINE32_MODE}) ===="
  scripts/bench.sh --smoke --windows
fi
