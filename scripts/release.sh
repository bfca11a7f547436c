#!/bin/sh
# Builds the release on Debian: sets up what is missing, builds, and makes
# Spindlebay-<version>-win64.zip and Spindlebay-<version>-win64-setup.exe in
# build/mingw. With a certificate given (SPINDLEBAY_SIGN_PKCS12 and
# SPINDLEBAY_SIGN_PASSWORD, optionally SPINDLEBAY_SIGN_TIMESTAMP; see README)
# sbay.exe, both language libraries, the uninstaller and the installer are
# signed; without one the release is built unsigned and says so.
set -e
if [ -n "$SPINDLEBAY_SIGN_PKCS12" ]; then
    [ -r "$SPINDLEBAY_SIGN_PKCS12" ] ||
        { echo "release.sh: cannot read the certificate SPINDLEBAY_SIGN_PKCS12=$SPINDLEBAY_SIGN_PKCS12" >&2; exit 1; }
    # The signing runs in the build folder: name the file from anywhere.
    SPINDLEBAY_SIGN_PKCS12="$(cd "$(dirname "$SPINDLEBAY_SIGN_PKCS12")" && pwd)/$(basename "$SPINDLEBAY_SIGN_PKCS12")"
    export SPINDLEBAY_SIGN_PKCS12
    signing="signed with $SPINDLEBAY_SIGN_PKCS12${SPINDLEBAY_SIGN_TIMESTAMP:+, time-stamped by $SPINDLEBAY_SIGN_TIMESTAMP}"
else
    signing="NOT SIGNED: no certificate given (set SPINDLEBAY_SIGN_PKCS12 and SPINDLEBAY_SIGN_PASSWORD to sign)"
fi
cd "$(dirname "$0")/.."
scripts/build.sh
cmake --build build/mingw --target package
ls -l build/mingw/Spindlebay-*-win64.zip build/mingw/Spindlebay-*-win64-setup.exe
echo "The release is $signing."
