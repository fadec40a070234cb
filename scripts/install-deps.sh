#!/usr/bin/env bash
# Installs what building and testing Kestrel need on Debian (run as root).
set -euo pipefail
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends \
    cmake make g++ libgtest-dev python3 \
    g++-mingw-w64-i686 g++-mingw-w64-x86-64 \
    wine64 xvfb xdotool x11-utils imagemagick locales >/dev/null
# A locale whose ANSI code page is 1251, for the Cyrillic user name test.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
    localedef -i ru_RU -f UTF-8 ru_RU.UTF-8
fi
