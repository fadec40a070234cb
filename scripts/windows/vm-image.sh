#!/usr/bin/env bash
# Makes, once, the virtual machine that runs Kestrel's Windows where the host's
# kernel runs no 32-bit code, and prints its folder: vmlinuz, initrd.img and
# disk.ext4. The disk is the Wine root of wine-root.sh, plus a kernel, an X
# server, xprop, xdotool and Python, with a Wine prefix booted in it once, so
# that no run waits for that.
#
# Cached beside the Wine root, named by a hash of its recipe (this file, the
# machine's first process and the Wine root's recipe); made under a temporary
# name and renamed only when complete, so a half-made one is never used. Needs
# root, qemu-system-x86, e2fsprogs, bubblewrap and the network.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(bash "$here/wine-root.sh")
cache=${KESTREL_CACHE:-/var/cache/kestrel}
key=$(cat "$here/wine-root.sh" "$here/vm-image.sh" "$here/vm-init.sh" | sha256sum | cut -c1-16)
image=$cache/vm-$key
[ -d "$image" ] && { echo "$image"; exit 0; }

exec 9>"$cache/vm.lock"
flock 9
[ -d "$image" ] && { echo "$image"; exit 0; }
partial=$image.partial log=$image.log
rm -rf --one-file-system "$cache"/vm-*.partial
trap 'rm -rf --one-file-system "$partial"' EXIT
trap 'exit 130' INT TERM HUP
fail() {
    echo "error: could not make the virtual machine: $1; see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
}
step() { echo "  $1 ($((SECONDS - start)) s)" >&2; }

start=$SECONDS
echo "Making the virtual machine $image (once: about 2 minutes, 3.7 GB; log in $log)" >&2
mkdir "$partial"
cp -a "$root" "$partial/root"
# A small initrd: it only has to find the disk.
mkdir -p "$partial/root/etc/initramfs-tools/conf.d" "$partial/root/usr/share/initramfs-tools/modules.d"
echo MODULES=list >"$partial/root/etc/initramfs-tools/conf.d/kestrel"
printf '%s\n' virtio_pci virtio_blk ext4 >"$partial/root/usr/share/initramfs-tools/modules.d/kestrel"
bwrap --bind "$partial/root" / --dev /dev --proc /proc --ro-bind /etc/resolv.conf /etc/resolv.conf \
    env DEBIAN_FRONTEND=noninteractive sh -ec 'apt-get update -q && apt-get install -y -q --no-install-recommends \
        linux-image-amd64 kmod procps python3 xvfb x11-utils xdotool && apt-get clean' >"$log" 2>&1 ||
    fail "the packages could not be installed (is the network reachable?)"
step "kernel, X server, xdotool and Python installed"
cp "$partial/root"/boot/vmlinuz-* "$partial/vmlinuz"
cp "$partial/root"/boot/initrd.img-* "$partial/initrd.img"
install -m 755 "$here/vm-init.sh" "$partial/root/kestrel-init"
mkfs.ext4 -q -F -L kestrel -d "$partial/root" "$partial/disk.ext4" 6G >>"$log" 2>&1 || fail "mkfs.ext4 failed"
rm -rf "$partial/root"
step "disk made"
python3 "$here/vm.py" exec --image "$partial" --write -- sh -ec 'mkdir -p "${KESTREL_BOOTED_PREFIX%/*}"
    export WINEPREFIX=$KESTREL_BOOTED_PREFIX WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= USER=kestrel
    wine wineboot -i && wineserver -w' >>"$log" 2>&1 || fail "the Wine prefix could not be booted in it"
step "Wine prefix booted in it"
mv "$partial" "$image"
# Machines of earlier recipes are not used again; they are large.
find "$cache" -maxdepth 1 -name 'vm-*' ! -name "vm-$key*" ! -name vm.lock -exec rm -rf {} +
echo "$image"
