# Shared by scripts/test-fuzz.sh and scripts/fuzz.sh (sourced): builds the
# fuzz targets in build/fuzz (clang, AddressSanitizer + UndefinedBehavior-
# Sanitizer, libFuzzer) and runs one target over its seed corpus and its
# regression inputs.
FUZZ_TARGETS=(fuzz_exports fuzz_cluster fuzz_statement fuzz_connect_string
              fuzz_net_reader fuzz_sim_requests fuzz_sim_service)
FUZZ_DIR=tests/fuzz
FUZZ_BUILD=build/fuzz

fuzz_build() {
  CC=clang-14 CXX=clang++-14 cmake -S . -B "$FUZZ_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DORQ_SANITIZE=address -DORQ_FUZZ=ON -DORQ_BUILD_TESTS=OFF -DORQ_WERROR=ON >/dev/null
  cmake --build "$FUZZ_BUILD" -j "$(nproc)" --target fuzz_targets
}

# fuzz_run TARGET WORK_CORPUS ARTIFACTS [libFuzzer options...]
# New inputs go to WORK_CORPUS only (the repository's corpus is read, not
# written); a failing input is written to ARTIFACTS.
fuzz_run() {
  local t=$1 work=$2 artifacts=$3; shift 3
  local dirs=("$work" "$FUZZ_DIR/corpus/$t")
  [ -d "$FUZZ_DIR/regressions/$t" ] && dirs+=("$FUZZ_DIR/regressions/$t")
  local dict=()
  [ -f "$FUZZ_DIR/dict/$t.dict" ] && dict=("-dict=$FUZZ_DIR/dict/$t.dict")
  mkdir -p "$work" "$artifacts"
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$FUZZ_BUILD/tests/fuzz/$t" "${dict[@]}" -artifact_prefix="$artifacts/" -max_len=16384 \
      -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 "$@" "${dirs[@]}"
}
