#!/usr/bin/env bash
# Runs every fuzz target for a bounded time: run_fuzz.sh BUILD_DIR SECONDS TARGET...
# New inputs go to BUILD_DIR/fuzz-corpus/<target> (the seeds in tests/fuzz/corpus stay as they are);
# an input that crashes is kept in BUILD_DIR/fuzz-artifacts/ and fails the run.
set -uo pipefail
build=$1
seconds=$2
shift 2
source_dir=$(cd "$(dirname "$0")" && pwd)
failed=0
for target in "$@"; do
  binary=$build/tests/fuzz/mavrin_fuzz_$target
  work=$build/fuzz-corpus/$target
  artifacts=$build/fuzz-artifacts
  mkdir -p "$work" "$artifacts"
  log=$build/fuzz-$target.log
  "$binary" -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$target-" \
    "$work" "$source_dir/corpus/$target" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [[ $rc -ne 0 ]]; then
    echo "fuzz $target: FAILED after ${execs:-?} runs (exit $rc); see $log and $artifacts/"
    grep -m3 -E 'check failed|ERROR|SUMMARY' "$log"
    failed=1
  else
    echo "fuzz $target: ${execs:-?} runs in ${seconds}s, no failure"
  fi
done
exit $failed
