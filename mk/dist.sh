#!/usr/bin/env bash
# Packs the release for users from the 32-bit product build.
# Usage: mk/dist.sh PRODUCT_BUILD DIST_BUILD   (run by `make dist`)
#
# Writes DIST_BUILD/velumo-<version>-win32/ (the package), its zip and the
# zip's SHA-256, the version taken from PRODUCT_BUILD's generated header. The
# package is the list PACKAGE below and SHA256SUMS.txt, the sums of that list:
#  - Velumo.dll, PRODUCT_BUILD's module; signed when SIGN_CERT and SIGN_KEY
#    are set (Authenticode with osslsigncode: SHA-256, no timestamp, as the
#    build machine has no network), and its signature verified against
#    SIGN_CA (default: SIGN_CERT) before anything is packed. SIGN_PASS_FILE
#    holds the key's passphrase, SIGN_VERIFY_FLAGS more options for the check;
#  - the read-mes, dist/README-ja.txt in code page 932 and dist/README-en.txt
#    (which quotes the Japanese messages) in UTF-8 with a byte order mark,
#    both as Windows text (CRLF), with @VELUMO_VERSION@ filled in.
# Packing stops when the folder holds anything else, or when a read-me's list
# of contents names other files than the package's.
#
# Every entry has the mode 0644 and the earliest date a zip can hold (so that
# it reads as no date rather than a build time), and zip keeps no owner or
# extra time stamps (-X): the zip depends on the contents alone.
set -euo pipefail
product=${1:?usage: dist.sh PRODUCT_BUILD DIST_BUILD}
out=${2:?usage: dist.sh PRODUCT_BUILD DIST_BUILD}
root=$(cd "$(dirname "$0")/.." && pwd)

PACKAGE=(Velumo.dll README-ja.txt README-en.txt)  # in the zip's order
SUMS=SHA256SUMS.txt                                # last in the zip
FILE_DATE='1980-01-01 00:00:00'                   # UTC
SIGN_DESCRIPTION='Velumo plugin DLL for DocuWorks'

SIGN_CERT=${SIGN_CERT:-}
SIGN_KEY=${SIGN_KEY:-}
if [ -n "$SIGN_CERT$SIGN_KEY" ] && { [ -z "$SIGN_CERT" ] || [ -z "$SIGN_KEY" ]; }; then
  echo "dist: signing needs both SIGN_CERT (certificate, PEM) and SIGN_KEY (private key, PEM)"
  exit 1
fi

version=$(sed -n 's/^#define VELUMO_VERSION_TEXT "\(.*\)"/\1/p' "$product/generated/velumo_version.h")
if [ -z "$version" ]; then
  echo "dist: no version in $product/generated/velumo_version.h"
  exit 1
fi
name=velumo-$version-win32
dir=$out/$name
rm -rf "$dir" "$dir.zip" "$dir.zip.sha256"
mkdir -p "$dir"

if [ -z "$SIGN_CERT" ]; then
  cp "$product/plugin/Velumo.dll" "$dir/Velumo.dll"
else
  ca=${SIGN_CA:-$SIGN_CERT}
  osslsigncode sign -certs "$SIGN_CERT" -key "$SIGN_KEY" ${SIGN_PASS_FILE:+-readpass "$SIGN_PASS_FILE"} \
    -h sha256 -n "$SIGN_DESCRIPTION" -in "$product/plugin/Velumo.dll" -out "$dir/Velumo.dll" >/dev/null
  # shellcheck disable=SC2086  # SIGN_VERIFY_FLAGS holds several options
  if ! osslsigncode verify -in "$dir/Velumo.dll" -CAfile "$ca" ${SIGN_VERIFY_FLAGS:-} \
      >"$out/verify.log" 2>&1; then
    cat "$out/verify.log"
    echo "dist: the signed Velumo.dll does not verify against $ca"
    exit 1
  fi
  echo "dist: Velumo.dll signed by $(openssl x509 -noout -subject -in "$SIGN_CERT" | sed 's/^subject=//')," \
    "and its signature verifies against $ca"
fi

readme() {  # readme NAME: dist/NAME as Windows text, the version filled in
  sed -e "s/@VELUMO_VERSION@/$version/g" -e 's/$/\r/' "$root/dist/$1"
}
readme README-ja.txt | iconv -f UTF-8 -t CP932 >"$dir/README-ja.txt"
{ printf '\357\273\277'; readme README-en.txt; } >"$dir/README-en.txt"
(cd "$dir" && sha256sum "${PACKAGE[@]}" >"$SUMS")

# The package, all of it and nothing else, as the read-mes list it.
names() { LC_ALL=C sort | paste -sd ' ' -; }  # names, sorted, on one line
expected=$(printf '%s\n' "${PACKAGE[@]}" "$SUMS" | names)
present=$(find "$dir" -mindepth 1 -printf '%f\n' | names)
if [ "$present" != "$expected" ]; then
  echo "dist: $dir holds $present, but the package is $expected"
  exit 1
fi
for text in README-ja.txt README-en.txt; do
  listed=$(grep -oE '^  [A-Za-z0-9._-]+\.[a-z]+  ' "$root/dist/$text" | awk '{print $1}' | names)
  if [ "$listed" != "$expected" ]; then
    echo "dist: dist/$text lists $listed as the contents, but the package is $expected"
    exit 1
  fi
done

entries=("${PACKAGE[@]}" "$SUMS")
(cd "$dir" && chmod 0644 "${entries[@]}" && TZ=UTC0 touch -d "$FILE_DATE" "${entries[@]}")
(cd "$out" && TZ=UTC0 env -u ZIPOPT -u ZIP zip -X -D -q "$name.zip" "${entries[@]/#/$name/}")
(cd "$out" && sha256sum "$name.zip" >"$name.zip.sha256")
echo "Distribution: $dir.zip"
cat "$dir/$SUMS" "$dir.zip.sha256"
