#!/usr/bin/env bash
# Builds Zelo and runs every test through CTest. Exits non-zero on any failure.
# Pass CTest options through, for example: scripts/test.sh -L engine
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --preset default -j "$(nproc)" --timeout 600 "$@"
