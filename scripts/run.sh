#!/usr/bin/env bash
# Builds Kestrel and runs the 32-bit exe once under Wine from a fresh folder,
# then prints the report. Without a display both prompts count as Cancel.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" >/dev/null
folder=$(mktemp -d)
cp build/i686/Kestrel.exe "$folder/"
WINEPREFIX=$(mktemp -d /var/tmp/kestrel-prefix-XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
wine=$PWD/scripts/wine.sh
trap 'bash scripts/wine-stop.sh; rm -rf "$WINEPREFIX" "$folder"' EXIT
bash "$wine" wine wineboot -i >/dev/null 2>&1
status=0
(cd "$folder" && bash "$wine" wine Kestrel.exe >/dev/null 2>&1) || status=$?
echo "Kestrel.exe ran in $folder (removed when this ends) and exited with code $status. SInfo.txt:"
cat "$folder/SInfo.txt"
