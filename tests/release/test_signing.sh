#!/usr/bin/env bash
# Packs a signed release with a throwaway self-signed code-signing
# certificate and checks it as a user's IT department would
# (tests/release/check_signature.sh).
# Usage: test_signing.sh WORK_DIR PRODUCT_BUILD   (run by `make test-signing`)
set -euo pipefail
work=${1:?usage: test_signing.sh WORK_DIR PRODUCT_BUILD}
product=${2:?usage: test_signing.sh WORK_DIR PRODUCT_BUILD}
root=$(cd "$(dirname "$0")/../.." && pwd)

rm -rf "$work"
mkdir -p "$work"
openssl req -x509 -newkey rsa:3072 -nodes -sha256 -days 2 -subj "/CN=Velumo throwaway test signer" \
  -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
  -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
SIGN_CERT=$work/cert.pem SIGN_KEY=$work/key.pem SIGN_CA='' SIGN_PASS_FILE='' SIGN_VERIFY_FLAGS='' \
  "$root/mk/dist.sh" "$product" "$work/dist"
zips=("$work"/dist/velumo-*-win32.zip)
if [ "${#zips[@]}" != 1 ] || [ ! -f "${zips[0]}" ]; then
  echo "FAIL signing: expected one zip in $work/dist"
  exit 1
fi
exec "$root/tests/release/check_signature.sh" "${zips[0]}" "$work/cert.pem" "$product/plugin/Velumo.dll"
