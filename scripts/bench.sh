#!/usr/bin/env bash
# Runs the ratio benchmarks (bench/) and prints one line per ratio: the
# library's own cost against the bare XSRClient call on a zero-cost double,
# 2 threads vs 1 on one handle, 10,000 open connections vs 1, and the
# overhead over the loopback network to xsr-sim.
#
#   scripts/bench.sh [--smoke] [--windows] [--instructions[=N]] [program options...]
#
#   --smoke    a short run that only checks that the benchmarks work (their
#              set-up checks every call's result); no figure is judged
#   --windows  the 32-bit Windows build (build/windows) under 32-bit Wine,
#              natively or on emulation (scripts/wine32.sh); the loopback
#              benchmark talks to the native xsr-sim
#   --windows64  the same with the 64-bit Windows build (build/windows64),
#              under wine64, which runs on machines without 32-bit support
#   --instructions[=N]  first counts the instructions of N calls (default
#              2,000; fewer for the large shapes) of each side of every
#              ratio under callgrind, then prints the counts per call beside
#              the times (native build; what a change costs, judged on a
#              busy machine where the times move)
# Program options go to both programs: --rounds N, --batch-ms MS, --only NAME,
# --calls N (exactly N calls per side in one round, for callgrind).
set -euo pipefail
cd "$(dirname "$0")/.."

smoke=()
windows=0
count=0
args=()
for a in "$@"; do
  case "$a" in
    --smoke) smoke=(--smoke) ;;
    --instructions) count=2000 ;;
    --instructions=*) count=${a#--instructions=} ;;
    --windows) windows=1 win=build/windows toolchain=cmake/toolchain-mingw32.cmake ;;
    --windows64) windows=1 win=build/windows64 toolchain=cmake/toolchain-mingw64.cmake ;;
    *) args+=("$a") ;;
  esac
done

if [ "$windows" -eq 1 ]; then scripts/install-deps.sh --tests --windows; else scripts/install-deps.sh --tests; fi

jobs=$(nproc)
configure() {  # build dir, cmake arguments...
  local dir=$1; shift
  [ -f "${dir}/CMakeCache.txt" ] || cmake -S . -B "${dir}" -G Ninja "$@" >/dev/null
}

# The native build always: xsr-sim serves the loopback benchmark.
scripts/configure-release.sh
targets=(xsr-sim)
[ "$windows" -eq 1 ] || targets+=(ratio_bench loopback_bench)
cmake --build build/release -j "${jobs}" --target "${targets[@]}"

run=()
if [ "$windows" -eq 1 ]; then
  configure "${win}" -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_TOOLCHAIN_FILE=${toolchain}"
  cmake --build "${win}" -j "${jobs}" --target ratio_bench loopback_bench XSRClient
  prefix=$(sed -n 's/^ORQ_WINE_PREFIX:PATH=//p' "${win}/CMakeCache.txt")
  loader=$(sed -n 's/^ORQ_WINE_LOADER:STRING=//p' "${win}/CMakeCache.txt")
  run=(sh tests/windows/wine-run.sh "${loader}" "${prefix}")
  if [ "${win}" = build/windows ]; then
    # 32-bit programs run under the 32-bit Wine that scripts/wine32.sh finds.
    eval "$(scripts/wine32.sh probe)"
    [ "${ORQ_WINE32_MODE}" != none ] || { echo "bench.sh: 32-bit Wine cannot run here: ${ORQ_WINE32_REASON}" >&2; exit 1; }
    run=(scripts/wine32.sh sh tests/windows/wine-run.sh "${ORQ_WINE32_LOADER}" "${prefix}")
  fi
  ratio_bench="${win}/tests/ratio_bench.exe"
  loopback_bench="${win}/loopback_bench.exe"
else
  ratio_bench=build/release/bench/ratio_bench
  loopback_bench=build/release/bench/loopback_bench
fi

. tests/support/xsr_sim.sh
sim_out=$(mktemp)
counts_dir=$(mktemp -d)
cleanup() {
  sim_stop
  rm -rf "${sim_out}" "${counts_dir}"
  if [ "$windows" -eq 1 ]; then
    WINEPREFIX="${prefix}" wineserver -k >/dev/null 2>&1 || true
    WINEPREFIX="${prefix}" wineserver -w >/dev/null 2>&1 || true
  fi
}
trap cleanup EXIT

counts=()
if [ "${count}" -gt 0 ]; then
  [ "$windows" -eq 0 ] || { echo "bench.sh: --instructions counts the native build only" >&2; exit 2; }
  command -v valgrind >/dev/null || { echo "bench.sh: --instructions needs valgrind" >&2; exit 2; }
  # One dump per side of each ratio, named NAME:SIDE:CALLS by the program.
  valgrind --tool=callgrind --callgrind-out-file="${counts_dir}/callgrind.out.%p" \
    "${ratio_bench}" --count "${count}" "${args[@]}" >/dev/null 2>"${counts_dir}/valgrind.log" ||
    { cat "${counts_dir}/valgrind.log" >&2; exit 1; }
  for f in "${counts_dir}"/callgrind.out.*; do
    awk '/^desc: Trigger: Client Request: / { split($5, k, ":") }
         /^totals: / { t = $2 }
         END { if (k[3] > 0) printf "%s %s %.1f\n", k[1], k[2], t / k[3] }' "$f"
  done >"${counts_dir}/counts"
  counts=(--counts "${counts_dir}/counts")
fi

"${run[@]}" "${ratio_bench}" "${smoke[@]}" "${counts[@]}" "${args[@]}"

sim_start build/release/sim/xsr-sim "${sim_out}"
"${run[@]}" "${loopback_bench}" --port "${sim_port}" "${smoke[@]}" "${args[@]}"
