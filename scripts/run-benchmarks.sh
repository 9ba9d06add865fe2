#!/usr/bin/env bash
# Runs the benchmark programs of a build tree under Wine, one after another in one run, and
# prints one table of their figures with the goals met or missed (scripts/bench_table.py).
# Progress goes to standard error; the raw figures stay in <build>/bench-results/figures.txt
# and the table in <build>/bench-results/table.md.
#   scripts/run-benchmarks.sh [build]
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
export HOSTPROBE_WINEPREFIX=$build/wineprefix
"$here/wine-prefix.sh" "$HOSTPROBE_WINEPREFIX"
results=$build/bench-results
rm -rf "$results"
mkdir -p "$results/shipped"
figures=$results/figures.txt
: >"$figures"

windows_path() { echo "Z:$(realpath "$1")" | tr / '\\'; }

run() {
  local exe=$1
  shift
  echo "running $(basename "$exe") $*" >&2
  "$here/wine-run.sh" "$exe" "$@" | tr -d '\r' >>"$figures"
}

# hostprobe as it ships: stripped, its catalogue archive appended again (make dist), and the
# floor stripped the same way.
"$here/make-dist.sh" "$build" "$results/dist" >/dev/null
python3 - "$results/dist" "$results/shipped" <<'PY'
import glob, os, sys, zipfile
dist, shipped = sys.argv[1:]
with zipfile.ZipFile(glob.glob(os.path.join(dist, "*.zip"))[0]) as archive:
    name = next(n for n in archive.namelist() if n.endswith("/hostprobe.exe"))
    with open(os.path.join(shipped, "hostprobe.exe"), "wb") as out:
        out.write(archive.read(name))
PY
x86_64-w64-mingw32-objcopy --strip-all "$build/hostprobe_floor.exe" "$results/shipped/hostprobe_floor.exe"
echo "exe.stripped.bytes $(stat -c %s "$results/shipped/hostprobe.exe")" >>"$figures"

run "$build/bench_logging.exe"
# Each file output and its spdlog counterpart run one after the other, in three rounds: a
# change of the machine's load then meets both sides, and the table takes the medians.
[ -e "$build/bench_spdlog.exe" ] ||
  echo "missing.spdlog no spdlog headers" >>"$figures"
for round in 1 2 3; do
  for pair in "logscope.plain spdlog.async" "logscope.gzip spdlog.sync" "file spdlog.flush"; do
    run "$build/bench_log_files.exe" "${pair% *}"
    [ ! -e "$build/bench_spdlog.exe" ] || run "$build/bench_spdlog.exe" "${pair#* }"
  done
done
run "$build/bench_gz_writer.exe"
if [ -e "$build/bench_gate.exe" ]; then
  run "$build/bench_gate.exe"
else
  echo "missing.gate gate not built" >>"$figures"
fi
run "$build/bench_hostprobe_run.exe" 21 "$(windows_path "$results/shipped/hostprobe.exe")" \
  "$(windows_path "$results/shipped/hostprobe_floor.exe")"

python3 "$here/bench_table.py" "$figures" | tee "$results/table.md"
