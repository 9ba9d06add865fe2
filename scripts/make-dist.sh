#!/usr/bin/env bash
# Builds the release package from a build tree: <out>/hostprobe-<version>-win64.zip with the
# stripped programs, the README, a sample configuration and the licences of what is linked
# in, and <out>/hostprobe.debug, the debug information the stripped hostprobe.exe points to.
#   scripts/make-dist.sh [build] [out]
set -euo pipefail
build=${1:-build}
out=${2:-dist}
top=$(cd "$(dirname "$0")/.." && pwd)
version=$(tr -d '[:space:]' <"$build/version.txt")
name=hostprobe-$version-win64
objcopy=x86_64-w64-mingw32-objcopy

mkdir -p "$out"
out=$(cd "$out" && pwd)
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir -p "$stage/$name/licences"

$objcopy --only-keep-debug "$build/hostprobe.exe" "$out/hostprobe.debug"
# Stripping writes the file anew without what followed its image, so the catalogue archive
# is appended again after it.
$objcopy --strip-all --add-gnu-debuglink="$out/hostprobe.debug" "$build/hostprobe.exe" "$stage/$name/hostprobe.exe"
python3 "$top/scripts/build_catalogues.py" append "$stage/$name/hostprobe.exe" "$build/hostprobe-catalogues.zip"
for program in logctl logdemo; do
  $objcopy --strip-all "$build/$program.exe" "$stage/$name/$program.exe"
done

cp "$top/README.md" "$stage/$name/README.md"
cp "$top/samples/hostprobe.config" "$stage/$name/hostprobe.config"
cp /usr/share/doc/libz-mingw-w64-dev/copyright "$stage/$name/licences/zlib.txt"
cp /usr/share/doc/mingw-w64-common/copyright "$stage/$name/licences/mingw-w64-runtime.txt"
cp /usr/share/doc/gcc-mingw-w64-base/copyright "$stage/$name/licences/gcc-runtime.txt"

rm -f "$out/$name.zip"
python3 - "$stage" "$name" "$out/$name.zip" <<'PY'
import os, sys, zipfile
stage, name, target = sys.argv[1:]
with zipfile.ZipFile(target, "w", zipfile.ZIP_DEFLATED) as archive:
    for folder, _, files in sorted(os.walk(os.path.join(stage, name))):
        for file in sorted(files):
            path = os.path.join(folder, file)
            archive.write(path, os.path.relpath(path, stage))
PY
echo "$out/$name.zip"
ls -l "$out/$name.zip" "$out/hostprobe.debug" | awk '{print $5, $9}'
