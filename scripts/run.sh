#!/usr/bin/env bash
# Builds Kestrel and runs the 32-bit exe once under Wine from a fresh folder,
# then prints the report. Without a display both prompts count as Cancel.
# Where this kernel runs no 32-bit code (or with KESTREL_VM=1) the run is made
# in the virtual machine of scripts/windows/vm.py.
set -euo pipefail
cd "$(dirname "$0")/.."
windows=$PWD/scripts/windows

if [ "${1:-}" != --here ]; then
    bash scripts/install-deps.sh
    cmake --preset default >/dev/null
    cmake --build --preset default -j "$(nproc)" >/dev/null
    route=$(bash "$windows"/route.sh)
    echo "Windows here: $route"
    if [[ $route == vm* ]]; then
        exec python3 "$windows"/vm.py exec --share "$PWD" --cd "$PWD" -- bash scripts/run.sh --here
    fi
fi

folder=$(mktemp -d)
cp build/i686/Kestrel.exe "$folder/"
WINEPREFIX=$(mktemp -d /var/tmp/kestrel-prefix-XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
trap 'bash "$windows"/wine-stop.sh; rm -rf "$WINEPREFIX" "$folder"' EXIT
if [ -d "${KESTREL_BOOTED_PREFIXES:-}/1" ]; then
    # The virtual machine's, booted when it was made: a boot there takes a minute.
    rmdir "$WINEPREFIX" && mv "$KESTREL_BOOTED_PREFIXES/1" "$WINEPREFIX"
else
    bash "$windows"/wine.sh wine wineboot -i >/dev/null 2>&1
fi
status=0
(cd "$folder" && bash "$windows/wine.sh" wine Kestrel.exe >/dev/null 2>&1) || status=$?
echo "Kestrel.exe ran in $folder (removed when this ends) and exited with code $status. SInfo.txt:"
cat "$folder/SInfo.txt"
