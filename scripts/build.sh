#!/bin/sh
# Configures and builds the Windows binaries; the result is build/mingw/dist.
set -e
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset mingw >/dev/null
cmake --build --preset mingw
scripts/prepare-wine-prefix.sh "$PWD/build/mingw/wineprefix" >/dev/null
# The display-scale tests run in prefixes at 150 % and 200 % as well.
for dpi in 144 192; do
    scripts/prepare-wine-prefix.sh "$PWD/build/mingw/wineprefix-$dpi" "$dpi" >/dev/null
done
