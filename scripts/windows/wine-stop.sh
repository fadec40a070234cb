#!/usr/bin/env bash
# Stops the wineserver of $WINEPREFIX, and removes the socket folders that Wine
# leaves in /tmp, one for each server it started, named for the prefix within.
set -euo pipefail
shopt -s nullglob
bash "$(dirname "${BASH_SOURCE[0]}")/wine.sh" wineserver -k || true
for sockets in /tmp/wine-*/"$(printf 'server-%x-%x' $(stat -c '%d %i' "$WINEPREFIX"))"; do
    rm -rf "${sockets%/*}"
done
