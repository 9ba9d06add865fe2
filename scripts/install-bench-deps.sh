#!/usr/bin/env bash
# Installs the Debian packages only `make bench` needs (spdlog and fmt, whose headers the
# comparison benchmarks build with the project's cross compiler); does nothing when they are
# present. `make test` never needs them.
set -euo pipefail
packages=(libspdlog-dev libfmt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq || true
  $sudo_cmd apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
