#!/usr/bin/env bash
# Installs what the tests need, builds everything and runs the whole suite.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh --vm
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
route=$(bash scripts/windows/route.sh)
echo "End-to-end tests: $route"
# Where the end-to-end cases take the virtual machine anyway, the vm.* cases would
# prove again, in the same machine, what they have just proven there.
skip=()
[[ $route == vm* ]] && skip=(-E '^vm\.')
# Interrupted, the suite's own stop steps still unmount and stop what it started.
trap 'ctest --preset default -R "^(e2e|vm)\.stop$" >/dev/null 2>&1; exit 130' INT TERM
ctest --preset default "${skip[@]}"
