#!/bin/sh
# Prepares Wine for one test run: make_wineprefix.sh PREFIX LOCALEDIR WINE...
# where WINE... runs a program of the build under Wine (the 64-bit loader, or
# mk/run-win32 -q for 32-bit programs).
#
# The module runs on Japanese Windows, where the ANSI code page is 932: the
# about box (an ANSI dialog) gets its Japanese caption through it, and module
# paths are split by it. So Wine runs in a Japanese locale: ja_JP.UTF-8 is
# compiled into LOCALEDIR (the tests point LOCPATH there; nothing system-wide
# changes). Then a fresh prefix (of WINEARCH) is made in PREFIX, shared by the
# Wine tests of the run. Besides the stock set-up it
#  - lets Wine draw the window frames itself and keep its windows to itself
#    (Xvfb has no window manager): captions and close boxes exist and show in
#    screenshots, and hiding a window does not wait two seconds for a window
#    manager to confirm it;
#  - maps the about box's font, "ＭＳ Ｐゴシック", and its relatives onto
#    IPA P Gothic (Debian's fonts-ipafont-gothic).
set -eu
usage="usage: make_wineprefix.sh PREFIX LOCALEDIR WINE..."
prefix=${1:?$usage}
localedir=${2:?$usage}
shift 2
[ $# -gt 0 ] || { echo "$usage" >&2; exit 2; }
case $1 in
  */run-win32) "$1" --route ;;  # the log names the route to 32-bit code
  *) echo "Wine loader: $1" ;;
esac
if [ -z "${DISPLAY:-}" ]; then
  echo "make_wineprefix.sh: no DISPLAY; run the Windows tests under xvfb-run" >&2
  exit 1
fi

mkdir -p "$localedir"
localedef -i ja_JP -f UTF-8 "$localedir/ja_JP.UTF-8"

export LOCPATH="$localedir" LC_ALL=ja_JP.UTF-8
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ -d "$prefix" ]; then
  wineserver -k 2>/dev/null || true  # a server left over from an earlier run
  rm -rf "$prefix"
fi
mkdir -p "$prefix"
"$@" wineboot --init
wineserver -w

reg="$prefix/velumo-test.reg"
{
  printf 'Windows Registry Editor Version 5.00\r\n\r\n'
  printf '[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\r\n'
  printf '"Decorated"="N"\r\n'
  printf '"Managed"="N"\r\n\r\n'
  printf '[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows NT\\CurrentVersion\\FontSubstitutes]\r\n'
  printf '"ＭＳ Ｐゴシック"="IPAPGothic"\r\n'
  printf '"ＭＳ ゴシック"="IPAGothic"\r\n'
  printf '"MS PGothic"="IPAPGothic"\r\n'
  printf '"MS Gothic"="IPAGothic"\r\n'
  printf '"MS UI Gothic"="IPAPGothic"\r\n'
} | iconv -f UTF-8 -t UTF-16LE | { printf '\377\376'; cat; } > "$reg"
"$@" regedit /S "$("$@" winepath -w "$reg")"
wineserver -w
echo "Wine prefix ready: $prefix (${WINEARCH:-default} architecture, locale ja_JP.UTF-8 from $localedir)"
