#!/usr/bin/env bash
# Runs a command (wine, wineserver, ...) inside the Wine 10 root that
# wine-root.sh makes, entered with bubblewrap. The host's /tmp, /var/tmp
# and /dev are shared, so folders and mounts made there and the X display are
# seen as they are, under the same paths; the environment passes through.
# Nothing stays mounted when the command ends, however it ends.
#
#   bash scripts/windows/wine.sh wine Kestrel.exe
#
# KESTREL_WINE_ROOT names another root: inside the virtual machine, whose own
# root that is, it is / and the command runs as it is.
set -euo pipefail
root=${KESTREL_WINE_ROOT:-$(bash "$(dirname "${BASH_SOURCE[0]}")/wine-root.sh")}
[ "$root" = / ] && exec "$@"
case $PWD in
    /tmp | /tmp/* | /var/tmp | /var/tmp/*) here=$PWD ;;
    *) here=/ ;;
esac
exec bwrap --bind "$root" / --dev-bind /dev /dev --proc /proc --ro-bind /sys /sys \
    --bind /tmp /tmp --bind /var/tmp /var/tmp --chdir "$here" "$@"
