#!/usr/bin/env bash
# Installs what building, running and testing Kestrel need on Debian 12 or 13
# (run as root), then makes the cached Wine root the program runs in and, where
# that cannot run it (or with --vm, for the tests that always take that way),
# the virtual machine that runs the root instead.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
export DEBIAN_FRONTEND=noninteractive
# Another run of this script (a second clone's tests, say) may be installing
# too: wait for it. apt-get update fails at once on a held lock, whatever its
# lock timeout; the timeout does make install wait for any other dpkg.
cache=${KESTREL_CACHE:-/var/cache/kestrel}
mkdir -p "$cache"
exec 8>"$cache/apt.lock"
flock 8
apt-get update -qq
apt-get install -y -qq --no-install-recommends -o DPkg::Lock::Timeout=600 \
    cmake make g++ libgtest-dev g++-mingw-w64-i686 python3 python3-pefile \
    mmdebstrap bubblewrap qemu-system-x86 e2fsprogs xvfb x11-utils xdotool imagemagick procps git zip openssl \
    osslsigncode >/dev/null
exec 8>&-
bash "$here/windows/wine-root.sh" >/dev/null
if [ "${1:-}" = --vm ] || [[ $(bash "$here/windows/route.sh") == vm* ]]; then
    bash "$here/windows/vm-image.sh" >/dev/null
fi
