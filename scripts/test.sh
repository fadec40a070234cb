#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
ctest --preset default
