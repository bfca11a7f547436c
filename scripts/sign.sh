#!/bin/sh
# Signs each file given, in place, with Authenticode (osslsigncode): the
# certificate and key come from the PKCS#12 file SPINDLEBAY_SIGN_PKCS12,
# unlocked by SPINDLEBAY_SIGN_PASSWORD; with SPINDLEBAY_SIGN_TIMESTAMP (the URL
# of an RFC 3161 time-stamping server) the signature is also time-stamped.
# Called by the release for the program, its libraries, the uninstaller and
# the installer; see README.
set -e
[ -n "$SPINDLEBAY_SIGN_PKCS12" ] || { echo "sign.sh: SPINDLEBAY_SIGN_PKCS12 is not set" >&2; exit 1; }
umask 077
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Through a private file, so that the password shows in no command line.
printf '%s' "$SPINDLEBAY_SIGN_PASSWORD" >"$work/password"
for file; do
    rm -f "$work/signed"
    osslsigncode sign -pkcs12 "$SPINDLEBAY_SIGN_PKCS12" -readpass "$work/password" -h sha256 \
        -n Spindlebay ${SPINDLEBAY_SIGN_TIMESTAMP:+-ts "$SPINDLEBAY_SIGN_TIMESTAMP"} \
        -in "$file" -out "$work/signed" >/dev/null
    # Over the original's contents, keeping its permissions.
    cat "$work/signed" >"$file"
    echo "signed $file"
done
