#!/bin/sh
# Builds everything and runs every test under Wine on a private X display
# (the notification area needs one).
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
cd build/mingw
exec xvfb-run -a -s "-screen 0 1024x768x24" ctest --output-on-failure -j 2 "$@"
