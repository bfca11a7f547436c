#!/bin/bash
# scripts/release.sh given a throwaway certificate: what a user runs (sbay.exe and both language libraries from
# the zip and as installed, the uninstaller, the installer) verifies against that certificate and carries a
# correct PE checksum. The throwaway-signed packages are removed at the end, and packages that were there before
# are put back. 77: a tool is missing.
# usage: release_signing_test.sh SOURCE_DIR   (the release is built in SOURCE_DIR/build/mingw)
. "$(dirname "$0")/e2e/e2e_lib.sh"
source=$(cd "$1" && pwd) build=$(cd "$1" && pwd)/build/mingw
for tool in makensis osslsigncode openssl; do
    command -v $tool >/dev/null || { echo "SKIPPED: $tool is missing"; exit 77; }
done
work=$(mktemp -d)
packages() { ls "$build"/Spindlebay-*-win64.zip "$build"/Spindlebay-*-win64-setup.exe 2>/dev/null; }
export WINEPREFIX="$build/signing-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir "$work/kept" && packages | xargs -r mv -t "$work/kept"
trap 'wineserver -k 2>/dev/null; packages | xargs -r rm -f; mv "$work"/kept/* "$build" 2>/dev/null;
      rm -rf "$work" "$WINEPREFIX"' EXIT

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Spindlebay throwaway $$" \
    -addext extendedKeyUsage=codeSigning -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null &&
    openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
        -passout 'pass:throw away' || { echo "FAIL - no throwaway certificate"; exit 1; }
SPINDLEBAY_SIGN_PKCS12="$work/cert.p12" SPINDLEBAY_SIGN_PASSWORD='throw away' "$source/scripts/release.sh" \
    >"$work/release.log" 2>&1
check "the release with a certificate succeeds" is "$?" 0 || cat "$work/release.log"
check "... and says it is signed" grep -q "The release is signed with $work/cert.p12" "$work/release.log"
check "... and shows no password" not grep -q 'throw away' "$work/release.log"

# The PE checksum in the optional header equals the one computed over the file, as Windows computes it.
pe_checksum_ok() {
    python3 - "$1" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
field = struct.unpack_from("<I", data, 0x3C)[0] + 4 + 20 + 64
stored = struct.unpack_from("<I", data, field)[0]
padded = data[:field] + b"\0\0\0\0" + data[field + 4:] + b"\0" * (len(data) % 2)
total = sum(struct.unpack("<%dH" % (len(padded) // 2), padded))
while total >> 16:
    total = (total & 0xFFFF) + (total >> 16)
computed = (total + len(data)) & 0xFFFFFFFF
print("     stored %08X, computed %08X" % (stored, computed))
sys.exit(0 if stored == computed else 1)
PY
}
verified() { osslsigncode verify -in "$1" -CAfile "$work/cert.pem" 2>&1 | grep -q '^Signature verification: ok'; }
signed_well() {
    [ -s "$1" ] || { e2e_log "     missing: $1"; return 1; }
    verified "$1" && pe_checksum_ok "$1"
}

setup=$(ls "$build"/Spindlebay-*-win64-setup.exe) zip=$(ls "$build"/Spindlebay-*-win64.zip)
python3 -m zipfile -e "$zip" "$work/zip" && unzipped=$(ls -d "$work"/zip/Spindlebay-*-win64)
"$source/scripts/prepare-wine-prefix.sh" "$WINEPREFIX" >/dev/null &&
    wine "$setup" /S /D='C:\Signed' && timeout 60 wineserver -w
installed="$WINEPREFIX/drive_c/Signed"
check "the installer" signed_well "$setup"
for file in sbay.exe sbay_6_eng.dll sbay_6_rus.dll; do
    check "$file in the zip" signed_well "$unzipped/$file"
    check "$file as installed" signed_well "$installed/$file"
done
check "the uninstaller as installed" signed_well "$installed/uninstall.exe"
check "the unsigned build output does not verify" not verified "$build/dist/sbay.exe"
e2e_finish
