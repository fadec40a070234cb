#!/usr/bin/env bash
# Tells, in one line, how Windows programs run on this host, and why:
#   direct: ...   Wine's WoW64 mode runs the 32-bit exe here (wine.sh)
#   vm: ...       it cannot, as this kernel runs no 32-bit code: a virtual machine does (vm.py)
# Measured, not guessed: the Wine root runs a 64-bit and a 32-bit program of its
# own; only a 32-bit one that fails where the 64-bit one ran means the virtual
# machine. A Wine root that runs neither is broken, and that is an error.
# KESTREL_VM=1 asks for the virtual machine on any host. The answer is kept
# until the host boots again or the Wine root changes.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${KESTREL_VM:-}" = 1 ]; then
    echo "vm: KESTREL_VM=1 asks for the virtual machine"
    exit 0
fi
root=$(bash "$here/wine-root.sh")
answer=$root.route-$(cat /proc/sys/kernel/random/boot_id)
[ -f "$answer" ] && { cat "$answer"; exit 0; }

WINEPREFIX=$(mktemp -d /var/tmp/kestrel-route-XXXXXX)
export WINEPREFIX WINEDEBUG=-all WINEDLLOVERRIDES='mscoree,mshtml='
unset DISPLAY
trap 'bash "$here/wine-stop.sh"; rm -rf "$WINEPREFIX"' EXIT
runs() { bash "$here/wine.sh" wine "/usr/lib/x86_64-linux-gnu/wine/$1-windows/hostname.exe" >/dev/null 2>&1; }
if ! runs x86_64; then
    echo "error: the Wine root $root cannot run a 64-bit Windows program; remove it to have it made again" >&2
    exit 1
fi
if runs i386; then
    line="direct: this kernel runs 32-bit code, so Wine's WoW64 mode runs the 32-bit exe here"
else
    line="vm: this kernel runs no 32-bit code (Wine ran a 64-bit program, not a 32-bit one), so a virtual machine runs it"
fi
# Whole or not at all, as another run may be reading it; earlier boots' answers go.
new=$(mktemp "$answer.XXXXXX")
echo "$line" >"$new"
mv -f "$new" "$answer"
find "${root%/*}" -maxdepth 1 -name "${root##*/}.route-*" ! -name "${answer##*/}*" -delete
echo "$line"
