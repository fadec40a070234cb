#!/usr/bin/env bash
# Makes, once, the Windows that Kestrel runs on here, and prints its path: a
# Debian 13 root with Wine 10 and Wine's 32-bit Windows DLLs, so that the 32-bit
# Kestrel.exe runs in Wine's WoW64 mode, as on 64-bit Windows, inside a 64-bit
# process. Needs no 32-bit Linux libraries, which this kernel cannot run.
# The same root is the virtual machine's system (vm-image.sh), so it also holds
# what that adds: a kernel, an X server, xdotool and Python; and the emulator
# that runs it (vm.py), the same QEMU on every host.
#
# The root is kept in the user's cache, ~/.cache/kestrel (or $KESTREL_CACHE),
# named by a hash of this file: a changed recipe makes a new root, which replaces
# the old one. It is made under a temporary name and renamed only when complete,
# so an interrupted run is never used. Needs mmdebstrap and the network, and no
# root: an ordinary user's mmdebstrap works in a user namespace, with the ids of
# /etc/subuid, and the user unpacks its tarball as files of their own. wine.sh
# enters it.
set -euo pipefail

# The Debian archive this machine's apt already uses.
mirror=$(awk '/^URIs:/ { print $2; exit }' /etc/apt/sources.list.d/*.sources 2>/dev/null || true)
[ -n "$mirror" ] || mirror=$(awk '$1 == "deb" { print $2; exit }' /etc/apt/sources.list 2>/dev/null || true)
mirror=${mirror:-http://deb.debian.org/debian}
cache=${KESTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel}

# Wine's 32-bit DLLs come from libwine:i386, unpacked, never installed: installed,
# it would pull in 32-bit Linux libraries. ru_RU, ja_JP and ka_GE give Wine the
# ANSI code pages 1251, 932 and, as Windows set to UTF-8 has, 65001.
dlls='cd /var/cache/apt/archives && apt-get download -q libwine:i386 &&
dpkg-deb -x "libwine_$(dpkg-query -W -f "\${Version}" libwine:amd64 | sed s/:/%3a/)_i386.deb" /tmp/libwine &&
cp -a /tmp/libwine/usr/lib/i386-linux-gnu/wine/i386-windows/. /usr/lib/x86_64-linux-gnu/wine/i386-windows/ &&
rm -rf /tmp/libwine && localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 &&
localedef -i ja_JP -f UTF-8 ja_JP.UTF-8 && localedef -i ka_GE -f UTF-8 ka_GE.UTF-8'
# What the virtual machine adds, mke2fs for its disk, and the small initrd that
# its kernel's install makes: it only has to find the disk.
machine='linux-image-amd64,kmod,procps,e2fsprogs,python3,python3-pefile,python3-xlib,xvfb,x11-utils,xdotool'
# Debian 13's QEMU 10 for the machine: Debian 12's 7.2 could run a page's old code
# after the machine's kernel had rewritten it, and that kernel then died.
emulator='qemu-system-x86'
initrd='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
echo MODULES=list >"$1/etc/initramfs-tools/conf.d/kestrel" &&
printf "%s\n" virtio_pci virtio_blk ext4 >"$1/usr/share/initramfs-tools/modules.d/kestrel"'

key=$(sha256sum "${BASH_SOURCE[0]}" | cut -c1-16)
root=$cache/wine-root-$key
[ -d "$root" ] && { echo "$root"; exit 0; }

mkdir -p "$cache"
exec 9>"$cache/lock"
flock 9
[ -d "$root" ] && { echo "$root"; exit 0; }
rm -rf "$cache"/wine-root-*.partial
trap 'rm -rf "$root.partial"' EXIT
trap 'exit 130' INT TERM HUP

log=$cache/wine-root-$key.log
echo "Making the Wine 10 root $root (once: about a minute, 2.1 GB; log in $log)" >&2
mkdir "$root.partial"
# Device files are left out: an ordinary user cannot make them, and wine.sh
# brings the host's /dev.
if ! mmdebstrap --variant=minbase --architectures=amd64,i386 --include="wine,wine64,locales,$machine,$emulator" \
    --dpkgopt='path-exclude=/usr/share/doc/*' --dpkgopt='path-exclude=/usr/share/man/*' --skip=essential/unlink \
    --setup-hook="$initrd" --customize-hook="chroot \"\$1\" sh -ec '$dlls'" --format=tar trixie - "$mirror" 2>"$log" |
    tar -C "$root.partial" --exclude='./dev/*' -x 2>>"$log"; then
    echo "error: could not make the Wine root from $mirror (is the network reachable?); see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
fi
mv "$root.partial" "$root"
# Roots of earlier recipes are not used again, nor the packages that some kept
# in debs/; they are large.
find "$cache" -maxdepth 1 \( -name 'wine-root-*' ! -name "wine-root-$key*" -o -name debs \) -exec rm -rf {} +
echo "$root"
