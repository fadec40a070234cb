#!/usr/bin/env bash
# Makes, once, the Windows that Kestrel runs on here, and prints its path: a
# Debian 13 root with Wine 10 and Wine's 32-bit Windows DLLs, so that the 32-bit
# Kestrel.exe runs in Wine's WoW64 mode, as on 64-bit Windows, inside a 64-bit
# process. Needs no 32-bit Linux libraries, which this kernel cannot run.
#
# The root is kept under /var/cache/kestrel (or $KESTREL_CACHE), named by a hash
# of this file: a changed recipe makes a new root, which replaces the old one. It
# is made under a temporary name and renamed only when complete, so an
# interrupted run is never used.
# Needs root, mmdebstrap and the network; wine.sh enters it, and vm-image.sh
# makes a virtual machine's disk of it for hosts that run no 32-bit code.
set -euo pipefail

cache=${KESTREL_CACHE:-/var/cache/kestrel}
key=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)
root=$cache/wine-root-$key
[ -d "$root" ] && { echo "$root"; exit 0; }

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
[ -d "$root" ] && { echo "$root"; exit 0; }
# One file system only: a mount that an interrupted mmdebstrap left inside stays untouched.
rm -rf --one-file-system "$cache"/*.partial
trap 'rm -rf --one-file-system "$root.partial"' EXIT
trap 'exit 130' INT TERM HUP

# The Debian archive this machine's apt already uses.
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}

# Wine's 32-bit DLLs come from libwine:i386, unpacked, never installed: installed,
# it would pull in 32-bit Linux libraries. ru_RU and ja_JP give Wine the ANSI
# code pages 1251 and 932.
dlls='cd /tmp && apt-get download -q libwine:i386 && dpkg-deb -x libwine_*_i386.deb libwine &&
cp -a libwine/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/ &&
rm -rf libwine libwine_*_i386.deb && localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 && localedef -i ja_JP -f UTF-8 ja_JP.UTF-8'

log=$cache/wine-root-$key.log
echo "Making the Wine 10 root $root (once: about a minute, 1.7 GB; log in $log)" >&2
if ! mmdebstrap --variant=minbase --architectures=amd64,i386 --include=wine,wine64,locales \
        --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' \
        --customize-hook="chroot \"\$1\" sh -ec '$dlls'" \
        trixie "$root.partial" "$mirror" >"$log" 2>&1; then
    echo "error: could not make the Wine root from $mirror (is the network reachable?); see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
fi
mv "$root.partial" "$root"
# Roots of earlier recipes are not used again; they are large.
find "$cache" -maxdepth 1 -name 'wine-root-*' ! -name "wine-root-$key*" -exec rm -rf {} +
echo "$root"
