#!/usr/bin/env bash
# Smoke run of the ratio benchmarks, native and for Windows under Wine: they
# build, every call they time gives the expected result, and they print their
# ratios. Timings are not judged here (scripts/bench.sh measures them).
set -euo pipefail
cd "$(dirname "$0")/.."
echo "==== benchmarks (smoke run) ===="
scripts/bench.sh --smoke
scripts/bench.sh --smoke --windows
