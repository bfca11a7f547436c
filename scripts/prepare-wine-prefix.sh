#!/bin/sh
# Creates the build's private Wine prefix once. The prefix keeps the normal
# graphics driver, so under Xvfb the notification area exists.
set -e
prefix="$1"
[ -n "$prefix" ] || { echo "usage: $0 PREFIX" >&2; exit 2; }
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$prefix"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
fi
[ -f "$prefix/system.reg" ] || { echo "could not create the Wine prefix $prefix" >&2; exit 1; }
echo "Wine prefix ready: $prefix"
