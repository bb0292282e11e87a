#!/usr/bin/env bash
# The SHA-256 of the product module that README.md states, on its one line
# "    <SHA-256>  Velumo.dll".
# Usage: mk/release_hash.sh check MODULE    (make check-release-hash): MODULE
#                                           has that SHA-256; if not, both
#                                           sums and the toolchain are shown
#        mk/release_hash.sh update MODULE   (make update-release-hash): writes
#                                           MODULE's SHA-256 on that line
set -euo pipefail
action=${1:?usage: release_hash.sh check|update MODULE}
module=${2:?usage: release_hash.sh check|update MODULE}
readme=$(cd "$(dirname "$0")/.." && pwd)/README.md

LINE='^    [0-9a-f]{64}  Velumo\.dll$'
# The Debian packages whose versions the module's bytes depend on.
TOOLCHAIN=(g++-mingw-w64-i686-win32 gcc-mingw-w64-i686-win32-runtime binutils-mingw-w64-i686
  mingw-w64-i686-dev)

lines=$(grep -cE "$LINE" "$readme" || true)
if [ "$lines" != 1 ]; then
  echo "release hash: README.md must hold one line '    <SHA-256>  Velumo.dll'; it holds $lines"
  exit 1
fi
stated=$(grep -E "$LINE" "$readme" | awk '{print $1}')
built=$(sha256sum "$module" | cut -d' ' -f1)

case $action in
  check)
    if [ "$stated" = "$built" ]; then
      echo "check-release-hash: $module has the SHA-256 that README.md states: $built"
      exit 0
    fi
    echo "check-release-hash: README.md states $stated"
    echo "                    but $module has $built"
    echo "Built with:"
    dpkg-query -W -f='  ${Package} ${Version}\n' "${TOOLCHAIN[@]}"
    echo "If the module changed on purpose, run 'make update-release-hash' and commit README.md with the"
    echo "change; if not, compare the toolchain above with the one README.md names."
    exit 1
    ;;
  update)
    sed -i -E "s/$LINE/    $built  Velumo.dll/" "$readme"
    echo "update-release-hash: README.md now states $built"
    ;;
  *)
    echo "usage: release_hash.sh check|update MODULE"
    exit 2
    ;;
esac
