#!/usr/bin/env bash
# Stops the wineserver of $WINEPREFIX, and removes the socket folders that Wine
# leaves in /tmp, one for each server it started, named for the prefix within
# (seen from the root, which may be another: KESTREL_WINE_ROOT, as for wine.sh).
set -euo pipefail
shopt -s nullglob
wine=(bash "$(dirname "${BASH_SOURCE[0]}")/wine.sh")
"${wine[@]}" wineserver -k || true
prefix=$("${wine[@]}" stat -c '%d %i' "$WINEPREFIX") || exit 0
for sockets in /tmp/wine-*/"$(printf 'server-%x-%x' $prefix)"; do
    rm -rf "${sockets%/*}"
done
