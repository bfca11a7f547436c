#!/bin/sh
# Builds the release on Debian: sets up what is missing, builds, and makes
# Spindlebay-<version>-win64.zip and Spindlebay-<version>-win64-setup.exe in
# build/mingw.
set -e
cd "$(dirname "$0")/.."
scripts/build.sh
cmake --build build/mingw --target package
ls -l build/mingw/Spindlebay-*-win64.zip build/mingw/Spindlebay-*-win64-setup.exe
