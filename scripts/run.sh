#!/usr/bin/env bash
# Builds Kestrel and runs it once under Wine from a fresh folder, then prints
# the report. Without a display both prompts count as Cancel.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
folder=$(mktemp -d)
cp build/x86_64/Kestrel.exe "$folder/"
export WINEPREFIX="$folder/prefix" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
(cd "$folder" && env -u DISPLAY wine wineboot -i >/dev/null 2>&1 && env -u DISPLAY wine Kestrel.exe) || true
wineserver -k 2>/dev/null || true
cat "$folder/SInfo.txt"
