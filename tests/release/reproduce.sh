#!/usr/bin/env bash
# Builds the release twice from scratch and compares the bytes.
# Usage: reproduce.sh WORK_DIR REFERENCE_DLL   (run by `make reproduce`)
#
# The project's files (those git tracks, and new ones it does not ignore) are
# copied twice into WORK_DIR, at paths of different depth and length, and
# `make dist` builds each copy in its own fresh tree, the two under a
# different umask, time zone, locale and SOURCE_DATE_EPOCH. Their Velumo.dll
# must be the same bytes, and the same as REFERENCE_DLL (the developer's own
# build), and their zips the same bytes: whatever leaked a folder, a clock,
# the builder's settings or an earlier build into either would tell here.
# Nothing is installed (VELUMO_NO_INSTALL=1) and nothing is signed.
set -euo pipefail
work=${1:?usage: reproduce.sh WORK_DIR REFERENCE_DLL}
reference=${2:?usage: reproduce.sh WORK_DIR REFERENCE_DLL}
root=$(cd "$(dirname "$0")/../.." && pwd)
make=${MAKE:-make}
jobs=${JOBS:-$(nproc)}

rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)
first=$work/one/velumo
second=$work/second-copy/in/a/deeper/folder/velumo-sources

copy_sources() {  # copy_sources DEST
  mkdir -p "$1"
  git -C "$root" ls-files -z --cached --others --exclude-standard |
    (cd "$root" && while IFS= read -r -d '' f; do [ -e "$f" ] && printf '%s\0' "$f"; done) |
    (cd "$root" && xargs -0 cp -P --parents -t "$1")
}

build() {  # build DIR UMASK VAR=VALUE...: make dist in DIR's own tree
  local dir=$1 mask=$2
  shift 2
  echo "reproduce: make dist in $dir (umask $mask, $*)"
  if ! (umask "$mask" && cd "$dir" &&
        env -u MAKEFLAGS -u MFLAGS -u MAKELEVEL -u SOURCE_DATE_EPOCH "$@" \
          "$make" --no-print-directory dist VELUMO_NO_INSTALL=1 JOBS="$jobs" SIGN_CERT= SIGN_KEY=) \
       >"$dir.log" 2>&1; then
    tail -n 40 "$dir.log"
    echo "reproduce: make dist failed in $dir (log: $dir.log)"
    exit 1
  fi
}

copy_sources "$first"
copy_sources "$second"
build "$first" 022 TZ=UTC0 LC_ALL=C
build "$second" 027 TZ=JST-9 LC_ALL=C.UTF-8 SOURCE_DATE_EPOCH=1000000000

passed=0
failed=0
same() {  # same WHAT FILE1 FILE2
  if cmp -s "$2" "$3"; then
    passed=$((passed + 1))
    echo "reproduce: same $1: $(sha256sum <"$2" | cut -d' ' -f1)"
  else
    failed=$((failed + 1))
    echo "FAIL reproduce: $1 differ: $2 and $3; first differing bytes (offset, octal values):"
    cmp -l "$2" "$3" | head -n 10 || true
  fi
}

zips() { compgen -G "$1/build/win-dist/velumo-*-win32.zip" || true; }
same "Velumo.dll of both copies" "$first/build/win32/plugin/Velumo.dll" "$second/build/win32/plugin/Velumo.dll"
same "Velumo.dll of a copy and $reference" "$first/build/win32/plugin/Velumo.dll" "$reference"
if [ "$(zips "$first" | wc -l)" = 1 ] && [ "$(zips "$second" | wc -l)" = 1 ]; then
  same "zip of both copies ($(basename "$(zips "$first")"))" "$(zips "$first")" "$(zips "$second")"
else
  failed=$((failed + 1))
  echo "FAIL reproduce: expected one zip in each copy's build/win-dist/"
fi
echo "reproduce: $passed passed, $failed failed"
[ "$failed" = 0 ]
