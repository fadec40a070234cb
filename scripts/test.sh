#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
route=$(bash scripts/windows/route.sh)
echo "End-to-end tests: $route"
# The cases are shared out for the way they take here.
cmake --preset default -DKESTREL_E2E_ROUTE="${route%%:*}" >/dev/null
cmake --build --preset default -j "$(nproc)"
# Interrupted, the suite's own stop steps still unmount and stop what it started.
trap 'ctest --preset default -R "^(e2e|vm)\.stop$" >/dev/null 2>&1; exit 130' INT TERM
ctest --preset default
