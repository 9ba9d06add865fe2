#!/usr/bin/env bash
# The release package: what it holds, a stripped program that still finds its catalogues and
# carries its version, the same report as the build's own program, and debug information
# that addr2line reads through the program's debug link.
#   dist_test.sh <source dir> <build dir>
set -euo pipefail
top=$1
build=$2
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$top/scripts/make-dist.sh" "$build" "$out" >/dev/null
version=$(tr -d '[:space:]' <"$build/version.txt")
name=hostprobe-$version-win64
fail=0
check() { if [ "$2" != "$3" ]; then echo "$1: expected [$3], got [$2]"; fail=1; fi; }

listing=$(python3 -c "import sys, zipfile; print(' '.join(sorted(zipfile.ZipFile(sys.argv[1]).namelist())))" "$out/$name.zip")
check contents "$listing" "$name/README.md $name/hostprobe.config $name/hostprobe.exe $name/licences/gcc-runtime.txt $name/licences/mingw-w64-runtime.txt $name/licences/zlib.txt $name/logctl.exe $name/logdemo.exe"
python3 -c "import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])" "$out/$name.zip" "$out"
exe=$out/$name/hostprobe.exe
size=$(stat -c %s "$exe")
[ "$size" -lt 2097152 ] || { echo "stripped hostprobe.exe is $size bytes, not under 2 MB"; fail=1; }

run() { "$top/scripts/wine-run.sh" "$@" 2>/dev/null | tr -d '\r'; }
cp "$build/dist_probe.exe" "$out/"
check probe "$(run "$out/dist_probe.exe" "Z:${exe//\//\\}" | tr '\n' ' ')" "catalogues: 28 version: $version "
check report "$(run "$exe" --format=xml | md5sum)" "$(run "$build/hostprobe.exe" --format=xml | md5sum)"

link=$(x86_64-w64-mingw32-objcopy --dump-section .gnu_debuglink=/dev/stdout "$exe" 2>/dev/null | tr -d '\0' | head -c 15)
check debuglink "$link" "hostprobe.debug"
address=$(x86_64-w64-mingw32-nm "$out/hostprobe.debug" | awk '$3 == "main" { print $1 }')
where=$(x86_64-w64-mingw32-addr2line -f -e "$out/hostprobe.debug" "0x$address" | head -1)
check addr2line "$where" "main"

# A stripped program's stack trace names module and offset; addr2line finds the function at
# the image base plus the offset.
x86_64-w64-mingw32-strip -o "$out/dist_probe_stripped.exe" "$build/dist_probe.exe"
frame=$("$top/scripts/wine-run.sh" "$out/dist_probe_stripped.exe" --assert 2>&1 >/dev/null | tr -d '\r' |
  sed -n 's/^0x[0-9A-F]* dist_probe_stripped\.exe+0x\([0-9A-F]*\)$/\1/p' | head -1)
if [ -z "$frame" ]; then
  echo "no module+offset frame in the stripped program's stack trace"
  fail=1
else
  base=$(x86_64-w64-mingw32-objdump -p "$build/dist_probe.exe" | awk '$1 == "ImageBase" { print $2 }')
  where=$(x86_64-w64-mingw32-addr2line -C -f -e "$build/dist_probe.exe" "$(printf '0x%X' $((0x$base + 0x$frame)))" | head -1)
  check frame "$where" "RaiseProbeAssertion()"
fi
exit $fail
