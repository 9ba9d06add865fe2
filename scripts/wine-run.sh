#!/usr/bin/env bash
# Runs a Windows program under Wine in the build tree's prefix (the test emulator of CTest).
set -euo pipefail
here=$(dirname "$(realpath "$0")")
: "${HOSTPROBE_WINEPREFIX:=$here/../build/wineprefix}"
"$here/wine-prefix.sh" "$HOSTPROBE_WINEPREFIX"
export WINEPREFIX=$(realpath -m "$HOSTPROBE_WINEPREFIX")
export WINEDEBUG=${WINEDEBUG:--all}
exec /usr/lib/wine/wine64 "$@"
