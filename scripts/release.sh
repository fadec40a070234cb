#!/usr/bin/env bash
# Usage: bash scripts/release.sh, after scripts/install-deps.sh; the signing
# variables are in docs/releasing.md. Builds the committed tree into dist/.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "release: $*" >&2; exit 1; }

[ -z "$(git status --porcelain)" ] || fail "the tree has uncommitted changes; a release must match a commit"
version=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project(Kestrel VERSION ...) in CMakeLists.txt"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

module=${KESTREL_SIGN_PKCS11_MODULE:-} key=${KESTREL_SIGN_KEY:-} certs=${KESTREL_SIGN_CERTS:-}
pin=${KESTREL_SIGN_PIN_FILE:-} pfx=${KESTREL_SIGN_PFX:-} password=${KESTREL_SIGN_PASSWORD_FILE:-}
stamp=${KESTREL_SIGN_TIMESTAMP_URL:-}
exists() { [ -f "${!1}" ] || fail "$2: no such file: '${!1}'"; }
sign=()
# Everything about the signer is checked before the build, so that a wrong PIN
# or a certificate Windows would refuse costs no build and touches no dist/.
# The key signs a probe: that proves the PIN and that the certificate is the
# key's, and a wrong PIN costs the token's lockout counter one login, not two.
echo "Kestrel $version" >"$work/probe"
if [ -n "$module$key$certs$pin" ]; then
    [ -z "$pfx$password" ] || fail "set the PKCS#11 variables or the PKCS#12 ones, not both"
    exists module KESTREL_SIGN_PKCS11_MODULE
    exists pin KESTREL_SIGN_PIN_FILE
    [[ $key == pkcs11:* ]] || fail "KESTREL_SIGN_KEY: not a pkcs11: URI: '$key'"
    # A PIN in the URI would stand on command lines, where ps and logs show it.
    [[ $key != *pin-value=* && $key != *pin-source=* ]] ||
        fail "KESTREL_SIGN_KEY holds a PIN: give it in KESTREL_SIGN_PIN_FILE instead"
    if [ -n "$certs" ]; then
        exists certs KESTREL_SIGN_CERTS
        cp "$certs" "$work/chain.pem"
    else
        # The token's own copy: the key's URI, naming the certificate object.
        uri="${key/type=private/type=cert}"
        [[ $uri == *type=cert* ]] || uri="$uri;type=cert"
        p11tool --provider "$module" --export-chain "$uri" >"$work/chain.pem" 2>/dev/null &&
            grep -q 'BEGIN CERTIFICATE' "$work/chain.pem" ||
            fail "no certificate for KESTREL_SIGN_KEY on the token; set KESTREL_SIGN_CERTS to a PEM file"
    fi
    # In a subshell of its own: the engine may crash on its way out after a refused
    # login, and the shell's report of that belongs in the log, not on the screen.
    if ! (PKCS11_MODULE_PATH=$module openssl dgst -sha256 -engine pkcs11 -keyform engine -passin "file:$pin" \
        -sign "$key" -out "$work/probe.sig" "$work/probe"; exit $?) >/dev/null 2>"$work/probe.log"; then
        grep -q 'PIN incorrect' "$work/probe.log" && fail "the token refused the PIN in $pin"
        fail "cannot sign with KESTREL_SIGN_KEY through $module: $(grep -v '^Engine' "$work/probe.log" | head -1)"
    fi
    sign=(-pkcs11module "$module" -key "$key" -certs "$work/chain.pem" -readpass "$pin")
    signer=$key
elif [ -n "$pfx$password" ]; then
    exists pfx KESTREL_SIGN_PFX
    exists password KESTREL_SIGN_PASSWORD_FILE
    # Files exported by older Windows use ciphers that OpenSSL 3 keeps in its legacy provider.
    pkcs12() { openssl pkcs12 "$@" -in "$pfx" -passin "file:$password" 2>/dev/null; }
    legacy=()
    pkcs12 -noout || { legacy=(-legacy) && pkcs12 -legacy -noout; } ||
        fail "cannot open $pfx with the password in $password"
    # The key's own certificate; a file whose certificates carry no key id (OpenSSL 3.5 then lists
    # none as the key's) gives them all, and the probe below tells whether the first is the key's.
    pkcs12 "${legacy[@]}" -nokeys -clcerts >"$work/chain.pem"
    grep -q 'BEGIN CERTIFICATE' "$work/chain.pem" || pkcs12 "${legacy[@]}" -nokeys >"$work/chain.pem"
    pkcs12 "${legacy[@]}" -nocerts -nodes | openssl dgst -sha256 -sign /dev/stdin -out "$work/probe.sig" \
        "$work/probe" 2>/dev/null || fail "cannot sign with the key in $pfx"
    sign=(-pkcs12 "$pfx" -readpass "$password")
    signer=$pfx
elif [ -n "$stamp" ]; then
    fail "KESTREL_SIGN_TIMESTAMP_URL is set, but no key to sign with (docs/releasing.md)"
fi
if [ ${#sign[@]} -gt 0 ]; then
    cert=$work/chain.pem
    x509() { openssl x509 -noout -in "$cert" "$@"; }
    subject=$(x509 -subject -nameopt RFC2253 | sed 's/^subject=//')
    day() { date -u -d "$(x509 "-$1" | cut -d= -f2)" +%F; }
    [ "$(date -u -d "$(x509 -startdate | cut -d= -f2)" +%s)" -le "$(date +%s)" ] ||
        fail "the certificate $subject is not valid before $(day startdate)"
    x509 -checkend 0 >/dev/null || fail "the certificate $subject expired on $(day enddate)"
    x509 -ext extendedKeyUsage 2>/dev/null | grep -q 'Code Signing' ||
        fail "the certificate $subject has no code-signing extended key usage"
    # Smart App Control and App Control take RSA signatures only.
    bits=$(x509 -text | sed -n 's/^ *Public-Key: (\([0-9]*\) bit)/\1/p')
    x509 -text | grep -q 'Public Key Algorithm: rsaEncryption' && [ "${bits:-0}" -ge 2048 ] ||
        fail "the certificate $subject is not for an RSA key of at least 2048 bits"
    openssl dgst -sha256 -verify <(x509 -pubkey) -signature "$work/probe.sig" "$work/probe" >/dev/null 2>&1 ||
        fail "the certificate $subject is not the certificate of $signer's key"
    x509 -checkend $((30 * 86400)) >/dev/null ||
        echo "release: warning: the certificate $subject ends within 30 days, on $(day enddate)" >&2
    if [ -n "$stamp" ]; then
        sign+=(-ts "$stamp")
    else
        echo "release: no time stamp (KESTREL_SIGN_TIMESTAMP_URL): the signature ends with the certificate, on $(day enddate)"
    fi
fi

mkdir "$work/source" "$work/dist"
git archive HEAD | tar -x -C "$work/source"
cmake -S "$work/source" -B "$work/build" --toolchain "$work/source/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DKESTREL_TEST_PROGRAMS=OFF >/dev/null
cmake --build "$work/build" --target Kestrel -j "$(nproc)" >/dev/null
exe=$work/dist/Kestrel.exe
sums=(Kestrel.exe)
if [ ${#sign[@]} -gt 0 ]; then
    osslsigncode sign "${sign[@]}" -h sha256 -n Kestrel -in "$work/build/Kestrel.exe" -out "$exe" \
        >"$work/sign.log" 2>&1 || fail "signing failed${stamp:+ (or the time stamp from $stamp)}: $(tail -2 "$work/sign.log" | head -1)"
    # The signature alone: attached to the commit's own build, it gives this exe.
    osslsigncode extract-signature -in "$exe" -out "$exe.sig" >/dev/null
    sums+=(Kestrel.exe.sig)
    echo "Kestrel.exe is signed by $subject${stamp:+, time-stamped by $stamp}"
else
    cp "$work/build/Kestrel.exe" "$exe"
    echo "Kestrel.exe is not signed (docs/releasing.md tells how to sign it)"
fi

# The zip's bytes depend only on the commit and the signature: fixed times, modes and order.
sed "s/@VERSION@/$version/; s/\$/\r/" "$work/source/res/ReadMe.txt" >"$work/ReadMe.txt"
cp "$exe" "$work/Kestrel.exe"
touch -d "@$(git log -1 --format=%ct)" "$work/Kestrel.exe" "$work/ReadMe.txt"
chmod 644 "$work/Kestrel.exe" "$work/ReadMe.txt"
zip=Kestrel-$version-win32.zip
(cd "$work" && TZ=UTC zip -X -q "dist/$zip" Kestrel.exe ReadMe.txt)
(cd "$work/dist" && sha256sum "$zip" "${sums[@]}" >SHA256SUMS)
rm -rf dist
cp -r "$work/dist" dist
echo "dist/:"
(cd dist && cat SHA256SUMS)
