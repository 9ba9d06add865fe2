#!/usr/bin/env bash
# Installs the Debian packages only `make bench` needs (spdlog and fmt, whose headers the
# comparison benchmarks build with the project's cross compiler). `make test` never needs them.
set -euo pipefail
exec "$(dirname "$0")/install-deps.sh" libspdlog-dev libfmt-dev
