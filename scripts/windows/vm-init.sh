#!/bin/bash
# The first process of the virtual machine (its /kestrel-init). It mounts what a
# system needs and the host's folders, then runs the host's commands until it is
# asked to halt, and powers off. All talk with the host goes through the shared
# folder "io":
#   shares       lines "TAG PATH": more host folders, mounted at the same paths
#   ready        made here once commands are taken
#   NAME.job     a bash script to run; its output goes to NAME.out, and its exit
#                status, once it has ended, to NAME.status
#   halt         made by the host: power off once the running commands are done
export PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
# This machine is the Wine root itself, and it has two prefixes booted when the disk was made,
# one for each desk of the tests (1 and 2).
export KESTREL_WINE_ROOT=/ KESTREL_BOOTED_PREFIXES=/var/lib/kestrel/prefixes

mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mkdir -p /dev/pts /dev/shm
mount -t devpts devpts /dev/pts
mount -t tmpfs tmpfs /dev/shm
mount -t tmpfs tmpfs /tmp
mount -t tmpfs tmpfs /run
hostname kestrel-vm
modprobe -a 9pnet_virtio 9p

share() { mkdir -p "$2" && mount -t 9p -o trans=virtio,version=9p2000.L,msize=262144,"$3" "$1" "$2"; }
io=/run/kestrel-io
share io "$io" rw
while read -r tag path; do
    share "$tag" "$path" ro
done <"$io/shares"

# The reboot(2) call itself: a power off that leaves the disk attached to the end.
power_off() {
    sync
    perl -e 'syscall(169, 0xfee1dead, 672274793, 0x4321fedc, 0)'
}

shopt -s nullglob
# A pause without a process: under emulation a sleep(1) five times a second costs
# a quarter of a processor, which the tests would otherwise go without.
mkfifo /run/pause
exec {pause}<>/run/pause
touch "$io/ready"
until [ -e "$io/halt" ]; do
    for job in "$io"/*.job; do
        name=${job%.job}
        mv "$job" "$name.running"
        (
            bash "$name.running" >"$name.out" 2>&1 </dev/null {pause}<&-
            echo $? >"$name.status.new"
            mv "$name.status.new" "$name.status"
        ) &
    done
    read -r -t 0.2 -u "$pause"
done
wait
power_off
