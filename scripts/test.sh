#!/usr/bin/env bash
# Builds and runs every test, step by step (--list names them): the plain
# build, the reference of the exports, the Python package, the whole suite
# under AddressSanitizer + UndefinedBehaviorSanitizer, every test that starts
# a thread under ThreadSanitizer, the fuzz targets, the 64-bit and 32-bit
# Windows builds under Wine, the benchmarks' smoke run and the packaging
# checks. Each step is timed and followed by the size of build/; a summary
# ends the run, with one line naming what could not run on this machine.
#   scripts/test.sh [--only STEP[,STEP...]] [--keep-going]
#   scripts/test.sh --list
# --only runs the named steps (in the order below); --keep-going runs the
# remaining steps after a failing one. Each step's output is also kept in
# build/test-logs/STEP.log.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
# Chained: a step runs where set -e does not reach (its output is logged).
# Every build of the test command treats a compiler warning as an error
# (ORQ_WERROR; the step scripts pass it to their own builds). Its test
# programs carry line tables only (ORQ_TEST_DEBUG_INFO=LINES: file and line
# in every report and backtrace), none in the cross builds. The
# AddressSanitizer build runs each program's cases in one process, as the
# cross builds do (a sanitized process costs about 0.2 s of the system's time
# to start: a third of that step's run); the plain build keeps a process per
# case.
# A build whose programs run their cases in one process each
# (ORQ_TESTS_PER_PROGRAM) also counts the cases that ran.
run_suite() {
  local name=$1; shift
  cmake -S . -B "build/${name}" -G Ninja -DORQ_WERROR=ON "$@" >/dev/null &&
    cmake --build "build/${name}" -j "${jobs}" &&
    ctest --test-dir "build/${name}" --output-on-failure -j "${jobs}" --timeout 300 &&
    if grep -q '^ORQ_TESTS_PER_PROGRAM:BOOL=ON$' "build/${name}/CMakeCache.txt"; then
      python3 tests/count_cases.py "build/${name}" "${name}"
    fi
}

# The steps in the order they run: name, what it checks, command. A new step
# is one more line (its own script, scripts/test-<name>.sh, installs what it
# needs with its own flag of scripts/install-deps.sh).
steps=()
declare -A step_what step_cmd
step() { steps+=("$1"); step_what[$1]=$2; step_cmd[$1]=$3; }
step release     "the plain build and its tests" \
                 "run_suite release -DCMAKE_BUILD_TYPE=RelWithDebInfo -DORQ_BUILD_TESTS=ON -DORQ_TEST_DEBUG_INFO=LINES"
step reconfigure "a second configure of build/release leaves nothing to build" \
                 "scripts/test-reconfigure.sh build/release"
step docs        "the reference of the exports, without a doxygen warning" "scripts/test-docs.sh"
step python      "the Python package's tests, from its wheel in a fresh virtual environment" \
                 "scripts/test-python.sh"
step dotnet      "the .NET binding: Mono and xunit tests, the NuGet package and its consumer" "scripts/test-dotnet.sh"
step shell       "orqext's interactive shell through tmux" "scripts/test-orqext-shell.sh"
step asan        "the suite under AddressSanitizer + UndefinedBehaviorSanitizer" \
                 "run_suite asan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=address -DORQ_BUILD_BENCHMARKS=OFF -DORQ_TEST_DEBUG_INFO=LINES -DORQ_TESTS_PER_PROGRAM=ON"
step tsan        "the tests that start threads, under ThreadSanitizer" \
                 "run_suite tsan -DCMAKE_BUILD_TYPE=Debug -DORQ_SANITIZE=thread -DORQ_BUILD_BENCHMARKS=OFF -DORQ_TEST_DEBUG_INFO=LINES"
step fuzz        "the fuzz targets: corpora, regressions, fresh inputs" "scripts/test-fuzz.sh"
step windows     "the 64-bit and 32-bit Windows DLLs and tests under Wine (32-bit where it runs)" \
                 "scripts/windows-test.sh"
step i386        "the 32-bit Linux build and its tests under user-mode emulation (qemu-i386)" \
                 "scripts/test-i386.sh"
step bench       "the benchmarks' smoke run, native and under Wine" "scripts/test-bench.sh"
step packaging   "the installed library, its consumers, the packages, the ABI guard" \
                 "scripts/test-packaging.sh"

only="" keep_going=0
while [ $# -gt 0 ]; do
  case "$1" in
    --list)
      for s in "${steps[@]}"; do printf '%-12s %s\n' "$s" "${step_what[$s]}"; done
      exit 0 ;;
    --only) only=${2:?--only needs a list of steps (--list names them)}; shift ;;
    --only=*) only=${1#--only=} ;;
    --keep-going) keep_going=1 ;;
    *) echo "test.sh: unknown argument '$1' (--only STEP,..., --list, --keep-going)" >&2; exit 2 ;;
  esac
  shift
done
selected=("${steps[@]}")
if [ -n "$only" ]; then
  IFS=, read -r -a wanted <<<"$only"
  for w in "${wanted[@]}"; do
    [ -n "${step_cmd[$w]+set}" ] || { echo "test.sh: no step '$w' (steps: ${steps[*]})" >&2; exit 2; }
  done
  selected=()
  for s in "${steps[@]}"; do
    case ",$only," in *",$s,"*) selected+=("$s") ;; esac
  done
fi

logs=build/test-logs
mkdir -p "$logs"
# The versions of the installed packages, to show at the end that no step
# upgraded or removed one (the steps install what is missing, nothing else).
installed() { dpkg-query -W -f='${db:Status-Abbrev} ${binary:Package} ${Version}\n' 2>/dev/null | awk '$1 == "ii" {print $2, $3}' | LC_ALL=C sort; }
installed >"$logs/packages-before.txt"
# The release step's build uses libedit for orqext's shell when it is there.
scripts/install-deps.sh --tests --shell
# Whether and how 32-bit Windows programs run here (natively, on emulation,
# or not at all): probed once, in one line, for every step that runs them.
case " ${selected[*]} " in
  *" windows "* | *" bench "* | *" packaging "* | *" dotnet "*)
    scripts/install-deps.sh --windows
    eval "$(scripts/wine32.sh probe)" ;;
esac
build_mb() { du -sm build 2>/dev/null | cut -f1; }
before_all=$(build_mb)

declare -A result seconds disk grew
status=0
summary() {
  local s total=0 skipped
  echo
  echo "==== summary ===="
  printf '%-12s %-8s %8s %10s %14s\n' step result seconds "disk (MB)" "build/ (MB)"
  for s in "${selected[@]}"; do
    printf '%-12s %-8s %8s %10s %14s\n' "$s" "${result[$s]:-not run}" "${seconds[$s]:--}" "${grew[$s]:--}" \
      "${disk[$s]:--}"
    total=$((total + ${seconds[$s]:-0}))
  done
  printf '%-12s %-8s %8s %10s %14s\n' total "" "$total" "$(($(build_mb) - before_all))" "$(build_mb)"
  echo "(disk: what the step added to build/; build/: its size after the step)"
  # What this machine could not run: the steps' SKIPPED lines, named by what
  # they skipped.
  skipped=$(for s in "${selected[@]}"; do
      [ ! -f "$logs/$s.log" ] || grep -h 'SKIPPED' "$logs/$s.log" || true
    done | sed -E 's/^[[:space:]]*(.*[^[:space:]:])[[:space:]:]*SKIPPED.*/\1/; s/^[[:space:]]*SKIPPED: ([^(]*[^( ]).*/\1/' |
    paste -sd';' - | sed 's/;/; /g')
  # A package installed before the run whose version changed or that is gone.
  local changed
  changed=$(installed | LC_ALL=C join -a1 "$logs/packages-before.txt" - | awk 'NF != 3 || $2 != $3 {print $1}' | paste -sd' ' -)
  if [ -n "$changed" ]; then
    echo "FAILED: installed packages changed during the run (upgraded or removed): $changed"
    status=1
  else
    echo "installed packages: none upgraded or removed"
  fi
  if [ -n "$skipped" ]; then
    echo "not run on this machine (see the SKIPPED lines above): $skipped"
  else
    echo "not run on this machine: nothing, every check of these steps ran"
  fi
}
trap 'rc=$?; summary; [ "$status" -eq 0 ] || rc=$status; exit "$rc"' EXIT

n=0
for s in "${selected[@]}"; do
  n=$((n + 1))
  echo
  echo "######## step ${n}/${#selected[@]}: $s (${step_what[$s]}) ########"
  start=$SECONDS before=$(build_mb)
  rc=0
  eval "${step_cmd[$s]}" 2>&1 | tee "$logs/$s.log" || rc=$?
  seconds[$s]=$((SECONDS - start))
  disk[$s]=$(build_mb)
  grew[$s]=$((disk[$s] - before))
  echo "######## $s: $([ "$rc" -eq 0 ] && echo passed || echo "FAILED (exit code $rc)")" \
       "in ${seconds[$s]} s; build/ grew by ${grew[$s]} MB to ${disk[$s]} MB ########"
  if [ "$rc" -eq 0 ]; then
    result[$s]=passed
  else
    result[$s]=FAILED
    status=1
    [ "$keep_going" -eq 1 ] || break
  fi
done
exit "$status"
