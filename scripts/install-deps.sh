#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, or the packages named as
# arguments; does nothing when they are present.
#   scripts/install-deps.sh [package...]
set -euo pipefail
if [ $# -gt 0 ]; then
  packages=("$@")
else
  # clang, libclang-rt-dev (libFuzzer and the sanitizers' runtimes) and zlib1g-dev: the native fuzz build.
  packages=(g++-mingw-w64-x86-64-posix mingw-w64-tools libz-mingw-w64-dev wine64 cmake ninja-build googletest python3 make locales
            clang libclang-rt-dev zlib1g-dev)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo_cmd=""
  [ "$(id -u)" -ne 0 ] && sudo_cmd="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo_cmd apt-get update -qq || true
  $sudo_cmd apt-get install -y -qq "${missing[@]}"
fi
