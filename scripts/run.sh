#!/bin/sh
# Builds Spindlebay and runs it under Wine in a virtual desktop with a taskbar.
# On a machine without an optical drive it runs sbay_sim.exe, the same program
# on two simulated drives (D: a data disc, E: an audio CD) described by
# build/mingw/sim/simdrives.ini, which may be edited while it runs.
# With a display it opens there; without one it runs on a private Xvfb, saves
# a screenshot of the desktop and its notification area, and stops.
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
root="$PWD"
export WINEPREFIX="$root/build/mingw/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="

program="$root/build/mingw/dist/sbay.exe"
if ! ls /dev/sr[0-9]* /dev/cdrom >/dev/null 2>&1; then
    program="$root/build/mingw/sim/sbay_sim.exe"
    [ -f "$root/build/mingw/sim/simdrives.ini" ] ||
        cp "$root/scripts/demo-simdrives.ini" "$root/build/mingw/sim/simdrives.ini"
    echo "No optical drive here: running sbay_sim.exe with the drives of build/mingw/sim/simdrives.ini"
fi

if [ -n "${DISPLAY:-}" ] && [ -z "${SPINDLEBAY_HEADLESS:-}" ]; then
    echo "Starting Spindlebay in a Wine virtual desktop; choose Exit in its tray menu to end it."
    exec wine explorer /desktop=Spindlebay,800x600 "$program"
fi

shot="$root/build/mingw/screenshots/run.png"
mkdir -p "$(dirname "$shot")"
xvfb-run -a -s "-screen 0 800x600x24" sh -c '
    wine explorer /desktop=Spindlebay,800x600 "$1" &
    sleep 10
    import -window root "$2"
    wineserver -k
    wait
' run "$program" "$shot"
echo "No display: Spindlebay ran on a private Xvfb. Screenshot of its desktop and notification area: $shot"
