#!/usr/bin/env bash
# Builds a release of the committed tree and writes dist/:
#   Kestrel-<version>-win32.zip   Kestrel.exe and ReadMe.txt for support staff
#   Kestrel.exe                   the same exe, bare
#   SHA256SUMS                    for both, as sha256sum -c reads them
# With KESTREL_SIGN_PFX (a PKCS#12 file) and KESTREL_SIGN_PASSWORD_FILE (its
# password) set, Kestrel.exe is signed with Authenticode (SHA-256) first.
# Run scripts/install-deps.sh once before.
set -euo pipefail
cd "$(dirname "$0")/.."
fail() { echo "release: $*" >&2; exit 1; }

[ -z "$(git status --porcelain)" ] || fail "the tree has uncommitted changes; a release must match a commit"
version=$(sed -n 's/^project(Kestrel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no project(Kestrel VERSION ...) in CMakeLists.txt"
pfx=${KESTREL_SIGN_PFX:-} password=${KESTREL_SIGN_PASSWORD_FILE:-}
if [ -n "$pfx$password" ]; then
    # Checked before the build, so a wrong password costs no build.
    [ -f "$pfx" ] || fail "KESTREL_SIGN_PFX: no such file: '$pfx'"
    [ -f "$password" ] || fail "KESTREL_SIGN_PASSWORD_FILE: no such file: '$password'"
    # Files exported by older Windows use ciphers that OpenSSL 3 keeps in its legacy provider.
    openssl pkcs12 -in "$pfx" -passin "file:$password" -noout 2>/dev/null ||
        openssl pkcs12 -legacy -in "$pfx" -passin "file:$password" -noout 2>/dev/null ||
        fail "cannot open $pfx with the password in $password"
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/source" "$work/dist"
git archive HEAD | tar -x -C "$work/source"
cmake -S "$work/source" -B "$work/build" --toolchain "$work/source/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release \
    -DKESTREL_TEST_PROGRAMS=OFF >/dev/null
cmake --build "$work/build" --target Kestrel -j "$(nproc)" >/dev/null
exe=$work/dist/Kestrel.exe
if [ -n "$pfx" ]; then
    osslsigncode sign -pkcs12 "$pfx" -readpass "$password" -h sha256 -n Kestrel \
        -in "$work/build/Kestrel.exe" -out "$exe" >/dev/null || fail "signing failed"
    echo "Kestrel.exe is signed with $pfx"
else
    cp "$work/build/Kestrel.exe" "$exe"
    echo "Kestrel.exe is not signed (set KESTREL_SIGN_PFX and KESTREL_SIGN_PASSWORD_FILE to sign it)"
fi

# The zip's bytes depend only on the commit: fixed times, modes and order.
sed "s/@VERSION@/$version/; s/\$/\r/" "$work/source/res/ReadMe.txt" >"$work/ReadMe.txt"
cp "$exe" "$work/Kestrel.exe"
touch -d "@$(git log -1 --format=%ct)" "$work/Kestrel.exe" "$work/ReadMe.txt"
chmod 644 "$work/Kestrel.exe" "$work/ReadMe.txt"
zip=Kestrel-$version-win32.zip
(cd "$work" && TZ=UTC zip -X -q "dist/$zip" Kestrel.exe ReadMe.txt)
(cd "$work/dist" && sha256sum "$zip" Kestrel.exe >SHA256SUMS)
rm -rf dist
cp -r "$work/dist" dist
echo "dist/:"
(cd dist && cat SHA256SUMS)
