#!/bin/sh
# Installs, from Debian's packages, whatever building and testing need and
# this machine lacks. Safe to run again: it installs only what is missing.
# Recommended packages are left out: the tools below work without them, and
# with them the first install grows to several gigabytes.
set -e
packages="cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 xvfb xauth xdotool imagemagick x11-utils python3 nsis osslsigncode openssl"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    if [ "$(id -u)" != 0 ]; then
        if ! command -v sudo >/dev/null 2>&1; then
            echo "setup.sh: these packages are missing:$missing" >&2
            echo "setup.sh: installing them needs root, and sudo is not installed." >&2
            echo "setup.sh: run as root: apt-get install --no-install-recommends$missing" >&2
            exit 1
        fi
        SUDO=sudo
    fi
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends $missing
fi
