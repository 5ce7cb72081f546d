#!/usr/bin/env bash
# Configures and builds Zelo in build/ (installing missing packages first).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
