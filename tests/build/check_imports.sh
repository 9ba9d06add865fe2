#!/usr/bin/env bash
# Checks the program's PE header and import table.
set -euo pipefail
exe=${1:?usage: check_imports.sh <exe>}
headers=$(x86_64-w64-mingw32-objdump -p "$exe")
fail=0
grep -q '^Magic[[:space:]]*020b[[:space:]]*(PE32+)' <<<"$headers" || { echo "not PE32+"; fail=1; }
grep -q 'file format pei-x86-64' <<<"$headers" || { echo "not x86-64"; fail=1; }
grep -q '^Subsystem[[:space:]]*00000003[[:space:]]*(Windows CUI)' <<<"$headers" || { echo "not a console program"; fail=1; }
allowed='^(kernel32|advapi32|msvcrt|user32|ole32|oleaut32|version|ws2_32|wtsapi32|dbghelp|ntdll|shell32|api-ms-win-[a-z0-9-]+)\.dll$'
while read -r dll; do
  lower=$(tr 'A-Z' 'a-z' <<<"$dll")
  if ! grep -Eq "$allowed" <<<"$lower"; then
    echo "unexpected import: $dll"
    fail=1
  fi
done < <(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers")
exit $fail
