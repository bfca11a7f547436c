#!/bin/sh
# Creates the build's private Wine prefix once (usage: PREFIX [DPI]; with a
# DPI the prefix's display gets that scale, read when its wineserver starts). Programs in it run inside a
# Wine virtual desktop with its own taskbar and notification area: windows
# then come and go without waiting on an X window manager (Xvfb has none),
# which keeps the tray quick and the tests steady.
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
if [ ! -f "$prefix/.sbay-virtual-desktop" ]; then
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.sbay-virtual-desktop"
fi
dpi="${2:-}"
if [ -n "$dpi" ] && [ ! -f "$prefix/.sbay-dpi-$dpi" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    wineserver -w
    touch "$prefix/.sbay-dpi-$dpi"
fi
echo "Wine prefix ready: $prefix"
