#!/usr/bin/env bash
# Smoke run of the ratio benchmarks, native and for Windows under Wine: they
# build, every call they time gives the expected result, and they print their
# ratios. Timings are not judged here (scripts/bench.sh measures them).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "==== benchmarks: native build (build/release, smoke run) ===="
scripts/bench.sh --smoke
# The 64-bit Windows build: its Wine runs on every machine, also where
# 32-bit programs cannot run (scripts/bench.sh --windows measures 32-bit).
echo "==== benchmarks under Wine: 64-bit Windows build (build/windows64, smoke run) ===="
scripts/bench.sh --smoke --windows64
