#!/usr/bin/env bash
# Installs what building, running and testing Kestrel need on Debian 12 or 13
# (run as root), then makes the cached Wine root the program runs in.
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ libgtest-dev g++-mingw-w64-i686 python3 python3-pefile \
    mmdebstrap bubblewrap xvfb xdotool imagemagick procps git zip openssl osslsigncode >/dev/null
bash "$(dirname "${BASH_SOURCE[0]}")/wine-root.sh" >/dev/null
