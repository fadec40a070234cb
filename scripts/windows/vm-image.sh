#!/usr/bin/env bash
# Makes, once, the virtual machine that runs Kestrel's Windows where the host's
# kernel runs no 32-bit code, and prints its folder: vmlinuz, initrd.img and
# disk.ext4. The disk is the Wine root's recipe (wine-root.sh) plus a kernel, an
# X server, xprop, xdotool and Python, with a Wine prefix booted in it once, so
# that no run waits for that.
#
# Cached beside the Wine root, named by a hash of its recipe (this file, the
# machine's first process and the Wine root's recipe); made under a temporary
# name and renamed only when complete, so a half-made one is never used. Needs
# mmdebstrap, qemu-system-x86, bubblewrap and the network, and no root: the disk
# is made from a tarball, whose files keep their owners there.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(bash "$here/wine-root.sh")
cache=${KESTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel}
settings=$here/../../tests/e2e/desk.reg  # the tests' settings of a Wine prefix
key=$(cat "$here/wine-root.sh" "$here/vm-image.sh" "$here/vm-init.sh" "$settings" | sha256sum | cut -c1-16)
image=$cache/vm-$key
[ -d "$image" ] && { echo "$image"; exit 0; }

exec 9>"$cache/vm.lock"
flock 9
[ -d "$image" ] && { echo "$image"; exit 0; }
partial=$image.partial log=$image.log
rm -rf "$cache"/vm-*.partial
trap 'rm -rf "$partial"' EXIT
trap 'exit 130' INT TERM HUP
fail() {
    echo "error: could not make the virtual machine: $1; see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
}
step() { echo "  $1 ($((SECONDS - start)) s)" >&2; }

start=$SECONDS
echo "Making the virtual machine $image (once: about 3 minutes, 3.5 GB; log in $log)" >&2
mkdir "$partial"
# A small initrd, made as the kernel is installed: it only has to find the disk.
modules='mkdir -p "$1/etc/initramfs-tools/conf.d" "$1/usr/share/initramfs-tools/modules.d" &&
echo MODULES=list >"$1/etc/initramfs-tools/conf.d/kestrel" &&
printf "%s\n" virtio_pci virtio_blk ext4 >"$1/usr/share/initramfs-tools/modules.d/kestrel"'
bash "$here/wine-root.sh" --tar "$partial/root.tar" --include=linux-image-amd64,kmod,procps,python3,python3-pefile,python3-xlib,xvfb,x11-utils,xdotool \
    --setup-hook="$modules" --customize-hook="upload $here/vm-init.sh /kestrel-init" \
    --customize-hook='chmod 755 "$1/kestrel-init"' >"$log" 2>&1 ||
    fail "its root could not be made (is the network reachable?)"
step "root with a kernel, X server, xdotool and Python made"
tar -C "$partial" -xf "$partial/root.tar" --wildcards './boot/vmlinuz-*' './boot/initrd.img-*'
mv "$partial"/boot/vmlinuz-* "$partial/vmlinuz"
mv "$partial"/boot/initrd.img-* "$partial/initrd.img"
rmdir "$partial/boot"
# The Wine root's mke2fs reads a tarball, which Debian 12's cannot.
bwrap --ro-bind "$root" / --dev /dev --proc /proc --bind "$partial" /mnt \
    /usr/sbin/mke2fs -q -F -t ext4 -L kestrel -d /mnt/root.tar /mnt/disk.ext4 6G >>"$log" 2>&1 || fail "mke2fs failed"
rm "$partial/root.tar"
step "disk made"
# One booted with the tests' settings, the other a copy of it: a boot takes a
# minute or more there.
settings=$(cd "${settings%/*}" && pwd)/${settings##*/}
python3 "$here/vm.py" exec --image "$partial" --write --share "${settings%/*}" -- sh -ec 'mkdir -p "$KESTREL_BOOTED_PREFIXES"
    export WINEPREFIX=$KESTREL_BOOTED_PREFIXES/1 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= USER=kestrel
    wine wineboot -i && wine reg import "Z:$(echo "$0" | tr / \\\\)" && wineserver -w &&
    cp -a "$WINEPREFIX" "$KESTREL_BOOTED_PREFIXES/2"' "$settings" >>"$log" 2>&1 ||
    fail "the Wine prefixes could not be booted in it"
step "two Wine prefixes booted in it"
mv "$partial" "$image"
# Machines of earlier recipes are not used again; they are large.
find "$cache" -maxdepth 1 -name 'vm-*' ! -name "vm-$key*" ! -name vm.lock -exec rm -rf {} +
echo "$image"
