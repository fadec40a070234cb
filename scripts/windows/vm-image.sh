#!/usr/bin/env bash
# Makes, once, the virtual machine that runs Kestrel's Windows where the host's
# kernel runs no 32-bit code, and prints its folder: vmlinuz, initrd.img and
# disk.ext4. The disk holds the Wine root itself (wine-root.sh, which carries the
# machine's kernel, X server and Python), its first process, and two Wine
# prefixes booted with the tests' settings, one for each desk, so that no run
# waits for that. Where this host runs 32-bit code they are booted here, in
# seconds; elsewhere in the machine, where that takes a minute or more.
#
# Cached beside the Wine root, named by a hash of its recipe (this file, the
# machine's first process, the Wine root's recipe and the tests' settings); made
# under a temporary name and renamed only when complete, so a half-made one is
# never used. Needs bubblewrap, and no root: an ordinary user's files are made
# root's on the disk, as they are in the root's own tarball.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(bash "$here/wine-root.sh")
cache=${root%/*}
settings=$here/../../tests/e2e/desk.reg  # the tests' settings of a Wine prefix
key=$(cat "$here/wine-root.sh" "$here/vm-image.sh" "$here/vm-init.sh" "$settings" | sha256sum | cut -c1-16)
image=$cache/vm-$key
[ -d "$image" ] && { echo "$image"; exit 0; }

exec 9>"$cache/vm.lock"
flock 9
[ -d "$image" ] && { echo "$image"; exit 0; }
partial=$image.partial log=$image.log tree=$image.partial/tree
rm -rf "$cache"/vm-*.partial
# The prefixes' server, where they were booted here, ends with them.
stop() { KESTREL_WINE_ROOT=$tree WINEPREFIX=/var/lib/kestrel/prefixes/1 bash "$here/wine-stop.sh"; }
trap '[ ! -d "$tree" ] || stop >/dev/null 2>&1; rm -rf "$partial"' EXIT
trap 'exit 130' INT TERM HUP
fail() {
    echo "error: could not make the virtual machine: $1; see $log" >&2
    tail -n 5 "$log" >&2
    exit 1
}
step() { echo "  $1 ($((SECONDS - start)) s)" >&2; }

start=$SECONDS
echo "Making the virtual machine $image (once: about half a minute, 2.5 GB; log in $log)" >&2
mkdir "$partial"
: >"$log"
cp "$root"/boot/vmlinuz-* "$partial/vmlinuz"
cp "$root"/boot/initrd.img-* "$partial/initrd.img"
# The disk's files: the root's, linked rather than copied.
cp -al "$root" "$tree"
cp "$here/vm-init.sh" "$tree/kestrel-init"
chmod 755 "$tree/kestrel-init"
mkdir -p "$tree/var/lib/kestrel/prefixes"
cp "$settings" "$tree/var/lib/kestrel/desk.reg"
# One booted with the tests' settings, the other a copy of it. Each holds a copy
# of Wine's DLLs, 1.4 GB, which become links to the root's: the tests replace,
# never write into, such a file.
boot='export WINEPREFIX=/var/lib/kestrel/prefixes/1 WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml= USER=kestrel
wine wineboot -i && wine reg import "Z:\var\lib\kestrel\desk.reg" && wineserver -w && cd "$WINEPREFIX/.." &&
cp -a 1 2 && hardlink -q -t /usr/lib/x86_64-linux-gnu/wine ./*/drive_c/windows/system32 ./*/drive_c/windows/syswow64'
# As an ordinary user, in a user namespace where their files are root's and
# root reads them all, as mode 0 ones like /etc/gshadow- are.
disk() {
    local user=()
    [ "$(id -u)" = 0 ] || user=(--unshare-user --uid 0 --gid 0 --cap-add CAP_DAC_READ_SEARCH)
    bwrap "${user[@]}" --ro-bind "$root" / --dev /dev --proc /proc --bind "$partial" /mnt \
        /usr/sbin/mke2fs -q -F -t ext4 -L kestrel -d /mnt/tree /mnt/disk.ext4 6G >>"$log" 2>&1 || fail "mke2fs failed"
    rm -rf "$tree"
    step "disk made"
}
if [[ $(KESTREL_VM='' bash "$here/route.sh") == direct* ]]; then
    KESTREL_WINE_ROOT=$tree bash "$here/wine.sh" sh -ec "$boot" >>"$log" 2>&1 || fail "the Wine prefixes could not be booted"
    stop >>"$log" 2>&1
    step "two Wine prefixes booted here"
    disk
else
    disk
    # What the copies took before they became links goes back to the host.
    python3 "$here/vm.py" exec --image "$partial" --write -- sh -ec "$boot && fstrim /" >>"$log" 2>&1 ||
        fail "the Wine prefixes could not be booted in it"
    step "two Wine prefixes booted in it"
fi
mv "$partial" "$image"
# Machines of earlier recipes are not used again; they are large.
find "$cache" -maxdepth 1 -name 'vm-*' ! -name "vm-$key*" ! -name vm.lock -exec rm -rf {} +
echo "$image"
