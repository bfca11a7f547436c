#!/bin/sh
# Builds Spindlebay and runs it under Wine in a virtual desktop with a taskbar.
# With a display it opens there; without one it runs on a private Xvfb, saves
# a screenshot of the desktop and its notification area, and stops.
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
root="$PWD"
export WINEPREFIX="$root/build/mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
program="$root/build/mingw/dist/sbay.exe"

if [ -n "${DISPLAY:-}" ] && [ -z "${SPINDLEBAY_HEADLESS:-}" ]; then
    echo "Starting Spindlebay in a Wine virtual desktop; choose Exit in its tray menu to end it."
    exec wine explorer /desktop=Spindlebay,1024x768 "$program"
fi

shots="$root/build/mingw/screenshots"
mkdir -p "$shots"
exec xvfb-run -a -s "-screen 0 1024x768x24" sh -c '
    wine explorer /desktop=Spindlebay,1024x768 "$1" &
    sleep 8
    import -window root "$2"
    wineserver -k
    wait
' run "$program" "$shots/run.png"
