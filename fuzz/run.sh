#!/usr/bin/env bash
# Builds and runs the fuzz targets (libFuzzer, clang, AddressSanitizer and
# UndefinedBehaviorSanitizer).
#
#   fuzz/run.sh smoke                 every target about 60 s (CI)
#   fuzz/run.sh long SECONDS [TARGET...]
#                                     every target (or the named ones) SECONDS long, one after
#                                     the other; the corpus grows in the build folder and is
#                                     kept for the next run
#   fuzz/run.sh repro TARGET FILE...  runs a target once on the given inputs (a crash file
#                                     that a run left in the artifacts folder, for example)
#   fuzz/run.sh build                 only configures and builds
#
# Targets: fuzz_scriptfile (script file reader, parameter declarations), fuzz_parser
# (statement parser), fuzz_run (loads and runs whole script files through the code manager).
# Environment: ZTFUZZ_BUILD (build folder, default build-fuzz at the top of the checkout),
# ZTFUZZ_JOBS (ninja jobs, default 2), ZTFUZZ_SECONDS (seconds per target in smoke, default 60),
# ZTFUZZ_PARALLEL (targets run at once in long, default 1), ZTFUZZ_SEED (libFuzzer's seed; smoke
# uses 1 unless set).
# Exit status: 0 when no target found anything, 1 otherwise, 2 usage error.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${ZTFUZZ_BUILD:-$root/build-fuzz}"
all_targets=(fuzz_scriptfile fuzz_parser fuzz_run)

usage() { sed -n '2,20p' "${BASH_SOURCE[0]}" | sed 's/^# \{0,1\}//' >&2; exit 2; }

build_targets() {
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCMAKE_CXX_COMPILER="${CXX:-clang++}" -DZTSCRIPT_FUZZ=ON -DZTSCRIPT_TESTS=OFF >/dev/null
  ninja -C "$build" -j "${ZTFUZZ_JOBS:-2}" fuzz_all
}

# Longest input per target.
max_len() {
  case "$1" in
    fuzz_scriptfile) echo 8192 ;;
    *) echo 4096 ;;
  esac
}

corpus_seeds() {
  rm -rf "$build/fuzz-seeds"
  "$root/fuzz/make_corpus.sh" "$build/fuzz-seeds" >/dev/null
}

# run_target TARGET SECONDS: fuzzes into the kept corpus; the log goes to fuzz-logs/TARGET.log.
run_target() {
  local target="$1" seconds="$2" seeds
  case "$target" in
    fuzz_scriptfile) seeds=scriptfile ;;
    fuzz_parser) seeds=parser ;;
    fuzz_run) seeds=run ;;
    *) echo "unknown target $target" >&2; return 2 ;;
  esac
  local corpus="$build/fuzz-corpus/$target" work="$build/fuzz-work/$target"
  mkdir -p "$corpus" "$work" "$build/fuzz-artifacts" "$build/fuzz-logs"
  local log="$build/fuzz-logs/$target.log" status=0
  # The working folder is empty, so scripts find no files of the checkout.
  (cd "$work" && \
   ASAN_OPTIONS="detect_leaks=1:allocator_may_return_null=1" \
   UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" \
   "$build/$target" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 ${ZTFUZZ_SEED:+-seed=$ZTFUZZ_SEED} \
     -max_len="$(max_len "$target")" -dict="$root/fuzz/ztscript.dict" -print_final_stats=1 \
     -artifact_prefix="$build/fuzz-artifacts/$target-" \
     "$corpus" "$build/fuzz-seeds/$seeds") >"$log" 2>&1 || status=$?
  local done_line
  done_line="$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)"
  if [ "$status" -eq 0 ]; then
    echo "$target: ok, ${done_line:-no summary}"
  else
    echo "$target: FAILED (exit $status), log $log"
    grep -E 'ERROR|FINDING|SUMMARY|Test unit written|runtime error' "$log" | head -20 || true
  fi
  return "$status"
}

run_all() {
  local seconds="$1"; shift
  local passed=0 failed=0 parallel="${ZTFUZZ_PARALLEL:-1}"
  if [ "$parallel" -gt 1 ]; then
    local pids=() t
    for t in "$@"; do
      run_target "$t" "$seconds" & pids+=($!)
      while [ "$(jobs -rp | wc -l)" -ge "$parallel" ]; do sleep 1; done
    done
    for t in "${pids[@]}"; do
      if wait "$t"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
  else
    local t
    for t in "$@"; do
      if run_target "$t" "$seconds"; then passed=$((passed + 1)); else failed=$((failed + 1)); fi
    done
  fi
  echo "fuzz: $passed passed, $failed failed"
  [ "$failed" -eq 0 ]
}

[ $# -ge 1 ] || usage
mode="$1"; shift
case "$mode" in
  build)
    build_targets ;;
  smoke)
    [ $# -eq 0 ] || usage
    build_targets
    corpus_seeds
    # A fixed seed: the same inputs on every CI run, so that a red run means a change broke something.
    ZTFUZZ_SEED="${ZTFUZZ_SEED:-1}" run_all "${ZTFUZZ_SECONDS:-60}" "${all_targets[@]}" ;;
  long)
    [ $# -ge 1 ] || usage
    seconds="$1"; shift
    [[ "$seconds" =~ ^[0-9]+$ ]] || usage
    targets=("$@")
    [ ${#targets[@]} -gt 0 ] || targets=("${all_targets[@]}")
    build_targets
    corpus_seeds
    run_all "$seconds" "${targets[@]}" ;;
  repro)
    [ $# -ge 2 ] || usage
    target="$1"; shift
    build_targets
    UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1" "$build/$target" -runs=1 "$@" ;;
  *)
    usage ;;
esac
