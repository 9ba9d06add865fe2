#!/usr/bin/env bash
# Makes sure the Wine prefix of a build tree exists and that its wineserver is running.
# One prefix per build tree, one persistent wineserver per prefix: starting Wine programs
# then costs a fraction of a second instead of the prefix's start-up.
set -euo pipefail
prefix=${1:?usage: wine-prefix.sh <prefix-dir>}
export WINEPREFIX=$(realpath -m "$prefix")
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
fi
# Persistent server, detached from our standard streams so that no caller waits on it.
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
# The first Windows process of a session starts Wine's system services, which inherit that
# process's standard streams and keep them open. Start them here, on /dev/null, so that a
# caller reading a program's output (ctest, a pipe) sees the end of it when the program ends.
/usr/lib/wine/wine64 cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || true
