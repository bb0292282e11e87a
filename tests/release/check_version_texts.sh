#!/usr/bin/env bash
# The texts that name the version keep to the project's (project() in the
# top-level CMakeLists.txt): README.md names the release zip after it, and the
# read-mes in dist/ leave it to mk/dist.sh, which fills in @VELUMO_VERSION@.
# Usage: check_version_texts.sh VERSION   (a test of the native tree)
set -uo pipefail
version=${1:?usage: check_version_texts.sh VERSION}
root=$(cd "$(dirname "$0")/../.." && pwd)
failed=0
fail() { failed=$((failed + 1)); echo "FAIL version texts: $1"; }

names=$(grep -oE 'velumo-[0-9][0-9A-Za-z.+~-]*-win32' "$root/README.md" | sort -u)
if [ -z "$names" ]; then
  fail "README.md names no velumo-<version>-win32 zip"
fi
for name in $names; do
  [ "$name" = "velumo-$version-win32" ] || fail "README.md names $name; the version is $version"
done

for text in "$root"/dist/README-*.txt; do
  [ "$(grep -c '@VELUMO_VERSION@' "$text")" -ge 1 ] ||
    fail "dist/$(basename "$text") has no @VELUMO_VERSION@ for the version"
  if grep -nE '(Velumo|[Vv]ersion|バージョン) +v?[0-9]+\.[0-9]+' "$text"; then
    fail "dist/$(basename "$text") spells out a version (above); write @VELUMO_VERSION@"
  fi
done

[ "$failed" = 0 ] && echo "version texts: README.md and dist/ keep to version $version"
[ "$failed" = 0 ]
