#!/usr/bin/env bash
# Runs every benchmark program of a build tree under Wine and prints its figures.
set -euo pipefail
build=${1:-build}
export HOSTPROBE_WINEPREFIX=$build/wineprefix
found=0
for exe in "$build"/bench_*.exe; do
  [ -e "$exe" ] || continue
  found=1
  echo "== $(basename "$exe")"
  "$(dirname "$0")/wine-run.sh" "$exe"
done
[ $found -eq 1 ] || echo "no benchmarks built"
