#!/usr/bin/env bash
# Installs what building, running and testing Kestrel need on Debian 12 or 13,
# then makes the cached Wine root the program runs in and, where that cannot run
# it, the virtual machine that runs the root instead (elsewhere the tests make
# that for their vm.* cases). Run it as yourself: only apt-get, for packages that
# are missing, runs through sudo; the rest needs no root.
set -euo pipefail
here=$(dirname "${BASH_SOURCE[0]}")
export DEBIAN_FRONTEND=noninteractive
sudo=()
if [ "$(id -u)" != 0 ]; then
    sudo=(sudo DEBIAN_FRONTEND=noninteractive)
    # The Wine root, and the tests' mounts, host name and clocks, are made in
    # user namespaces: find out before anything is installed or made.
    if ! refusal=$(unshare --user --map-root-user --mount --uts sh -c 'mount -t tmpfs tmpfs /mnt' 2>&1); then
        echo "error: this host refuses an ordinary user a user namespace (${refusal//$'\n'/ });" \
            "to go on, allow them (sysctl user.max_user_namespaces above 0; on Ubuntu also" \
            "kernel.apparmor_restrict_unprivileged_userns=0), or run as root" >&2
        exit 1
    fi
fi

# The Wine root takes a minute or more to make: it is made while the rest are
# installed, once what makes it is there. clang 19 for the checks: Debian 12 and
# 13 both have it, so both give one verdict. A release signs through a token
# with OpenSSL's PKCS#11 engine and p11tool; the release check's token is SoftHSM2.
first=(mmdebstrap uidmap bubblewrap)
rest=(cmake make g++ libgtest-dev g++-mingw-w64-i686 clang-19 lld-19 clang-tidy-19 clang-format-19 python3
    python3-pefile python3-xlib xvfb x11-utils xdotool imagemagick procps git zip openssl
    osslsigncode libengine-pkcs11-openssl gnutls-bin softhsm2 python3-cryptography)
updated=''
install() { # PACKAGE...: those that are missing
    local missing=() package
    for package; do
        dpkg-query -W -f '${Status}' "$package" 2>/dev/null | grep -q 'ok installed' || missing+=("$package")
    done
    [ ${#missing[@]} -gt 0 ] || return 0
    # Another run of this script (a second clone's tests, say) may be installing
    # too: wait for it. apt-get update fails at once on a held lock, whatever its
    # lock timeout; the timeout does make install wait for any other dpkg.
    local cache=${KESTREL_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kestrel}
    mkdir -p "$cache"
    exec 8>"$cache/apt.lock"
    flock 8
    [ -n "$updated" ] || "${sudo[@]}" apt-get update -qq
    updated=yes
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends \
        -o DPkg::Lock::Timeout=600 "${missing[@]}" >/dev/null
    exec 8>&-
}
install "${first[@]}"
bash "$here/windows/wine-root.sh" >/dev/null &
root=$!
# Whatever ends this script, the root is left whole or not at all.
trap 'wait' EXIT
install "${rest[@]}"
wait "$root"
if [[ $(bash "$here/windows/route.sh") == vm* ]]; then
    bash "$here/windows/vm-image.sh" >/dev/null
fi
