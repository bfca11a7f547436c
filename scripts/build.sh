#!/bin/sh
# Configures and builds the Windows binaries; the result is build/mingw/dist.
set -e
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/prepare-wine-prefix.sh "$PWD/build/mingw/wineprefix" >/dev/null
