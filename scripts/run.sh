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
export WINEPREFIX="$folder/.wine" WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
wine wineboot -i >/dev/null 2>&1
status=0
(cd "$folder" && wine Kestrel.exe) || status=$?
wineserver -k 2>/dev/null || true
echo "Kestrel ran from $folder and exited with code $status; SInfo.txt:"
cat "$folder/SInfo.txt"
