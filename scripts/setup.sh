#!/bin/sh
# Installs, from Debian's packages, whatever building and testing need and
# this machine lacks. Safe to run again: it installs only what is missing.
set -e
packages="cmake ninja-build g++-mingw-w64-x86-64-posix mingw-w64-tools googletest wine wine64 xvfb xauth xdotool imagemagick x11-utils python3"
missing=""
for p in $packages; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing="$missing $p"
done
if [ -n "$missing" ]; then
    echo "Installing:$missing"
    SUDO=""
    [ "$(id -u)" = 0 ] || SUDO=sudo
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq $missing
fi
