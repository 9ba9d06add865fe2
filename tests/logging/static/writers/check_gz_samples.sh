#!/bin/sh
# Inflates the gzip files that the Wine tests left below <folder> (one folder per test
# program) with the system's gzip, and compares each with the text the tests expected of it
# (<name>.txt).
set -u
folder=$1
count=0
failed=0
for file in "$folder"/*/*.gz; do
  [ -e "$file" ] || continue
  count=$((count + 1))
  expected=${file%.gz}.txt
  if ! gzip -t "$file"; then
    echo "FAIL: gzip -t $file"
    failed=1
  elif ! gzip -dc "$file" | cmp -s - "$expected"; then
    echo "FAIL: $file does not inflate to $expected"
    failed=1
  fi
done
echo "$count files checked"
[ "$count" -ge 5 ] || { echo "FAIL: too few samples in $folder"; exit 1; }
exit $failed
