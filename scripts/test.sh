#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --vm
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
route=$(bash scripts/windows/route.sh)
echo "End-to-end tests: $route"
# The test preset runs the direct and the virtual machine's cases side by side. Where all
# of them take a machine, two machines emulated on two cores are slower than one after the other.
jobs=()
[[ $route == vm* ]] && jobs=(-j 1)
# Interrupted, the suite's own stop steps still unmount and stop what it started.
trap 'ctest --preset default -R "^(e2e|vm)\.stop$" >/dev/null 2>&1; exit 130' INT TERM
ctest --preset default "${jobs[@]}"
