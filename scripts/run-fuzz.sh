#!/usr/bin/env bash
# Runs every fuzz target of a native fuzz build for the given number of seconds, from the
# seed corpus in tests/fuzz/corpus/<target>/ and the inputs earlier runs kept in
# <build>/corpus/<target>/; prints one line a target and fails when any target crashed.
# A crash's input is left in <build>/artifacts/.
#   scripts/run-fuzz.sh <build> <seconds>
set -uo pipefail
build=$1
seconds=$2
root="$(cd "$(dirname "$0")/.." && pwd)"
mkdir -p "$build/artifacts" "$build/logs"
failed=0
for target in "$build"/*_fuzz; do
  name=$(basename "$target")
  mkdir -p "$build/corpus/$name"
  rm -f "$build/artifacts/$name-"*
  # -timeout: an input that takes 10 s is a hang; the seed folder only supplies inputs.
  "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$name-" "$build/corpus/$name" "$root/tests/fuzz/corpus/$name" \
    >"$build/logs/$name.log" 2>&1
  rc=$?
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$name.log" | tail -1)
  crashes=$(find "$build/artifacts" -name "$name-*" ! -name "$name-slow-unit-*" | wc -l)
  if [ "$rc" -ne 0 ] && [ "$crashes" -eq 0 ]; then
    crashes=1
  fi
  echo "$name: ${executions:-0} executions, $crashes crashes"
  if [ "$crashes" -ne 0 ]; then
    failed=1
    echo "  see $build/logs/$name.log" >&2
  fi
done
exit $failed
