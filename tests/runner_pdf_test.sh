#!/usr/bin/env bash
# velumo mask on PDF files made by other programs (tests/pdf/make_fixtures.py
# made them in FIXTURES), judged by poppler's and qpdf's tools: what is masked
# is gone, what is kept is as it was, nothing else is touched, and bad input
# is refused without a trace.
# Usage: runner_pdf_test.sh VELUMO_BINARY FIXTURES
set -u
velumo=$1
fixtures=$2
pdf_dir=$(cd "$(dirname "$0")/pdf" && pwd)
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"
cd "$work" || exit 1
already="指定されたファイルはすでに存在します。"
no_right="指定された操作をする権利がありません。"

# Whatever is in the folder besides the names given: leftovers of a save.
others() { ls -A | grep -vxF -f <(printf '%s\n' "$@") | xargs; }

# --- documents from LibreOffice, Ghostscript, cairo and qpdf -------------------

for name in libreoffice ghostscript cairo combined receipt inherited; do
  mkdir "$name" && cd "$name" || exit 1
  cp "$fixtures/$name.pdf" .
  out=$("$velumo" mask "$name.pdf" 2>err); status=$?
  check "$name: status" 0 "$status"
  check "$name: message" "$finished" "$out"
  check "$name: nothing on standard error" "" "$(cat err)"
  check "$name: the original is unchanged" "" "$(cmp "$name.pdf" "$fixtures/$name.pdf" 2>&1)"
  check "$name: the masked copy and nothing else" "" "$(others "$name.pdf" "$name-masked.pdf" err)"
  /usr/bin/python3 "$pdf_dir/check_masked.py" "$name.pdf" "$name-masked.pdf" \
    "$fixtures/manifest.json" "$name.pdf" 200 >check.out 2>&1; status=$?
  check "$name: pixels and text ($(tail -n 1 check.out))" 0 "$status"
  [ "$status" = 0 ] || cat check.out
  rm -f check.out
  cd ..
done

# What could carry masked content elsewhere: each held the marker.
copy=libreoffice/libreoffice-masked.pdf
check "removed: no trace of the marker" 0 "$(qpdf --qdf --object-streams=disable "$copy" - | grep -c VELUMO-SECRET)"
info=$(pdfinfo "$copy")
for line in "Metadata Stream: no" "Form:            none" "JavaScript:      no" "Tagged:          no"; do
  check "removed: pdfinfo says $line" 1 "$(grep -cxF "$line" <<<"$info")"
done
check "removed: no document information" 0 "$(grep -cE '^(Title|Author|Subject|Keywords|Creator|Producer):' <<<"$info")"
check "removed: no attachment" "0 embedded files" "$(pdfdetach -list "$copy")"
check "removed: no outline" "[]" "$(qpdf --json --json-key=outlines "$copy" | /usr/bin/python3 -c 'import json,sys; print(json.load(sys.stdin)["outlines"])')"
check "removed: no information dictionary" 0 "$(qpdf --show-object=trailer "$copy" | grep -c /Info)"
kept=$(/usr/bin/python3 -c '
import sys, pikepdf
pdf = pikepdf.open(sys.argv[1])
labels = pdf.Root.PageLabels.Nums
link = [a for a in pdf.pages[1].Annots if a.Subtype == "/Link"][0]
print(len(labels), labels[1].get("/St"), labels[1].get("/P"),
      link.Dest[0].objgen == pdf.pages[0].obj.objgen, link.Dest[1],
      [str(name) for name in list(pdf.Root.Names.Dests.Names)[::2]])' "$copy" 2>&1)
check "kept: page labels without their prefix; the kept page's destination; a link to the masked page, led to it directly" \
  "2 5 None True /Fit ['kept-place']" "$kept"
rm -rf libreoffice ghostscript cairo combined receipt inherited

# --- the masked copy's file ---------------------------------------------------

cp "$fixtures/ghostscript.pdf" doc.pdf
echo "someone's file" >doc-masked.pdf
out=$("$velumo" mask doc.pdf 2>err); status=$?
check "existing copy: refused" 1 "$status"
check "existing copy: the host's message" "$already"$'\n'"$stopped" "$out"
check "existing copy: kept" "someone's file" "$(cat doc-masked.pdf)"
check "existing copy: said why" 1 "$(grep -c -- '--force' err)"
"$velumo" mask --force doc.pdf >/dev/null 2>&1; status=$?
check "existing copy with --force: replaced" "0 PDF" "$status $(head -c 4 doc-masked.pdf | tail -c 3)"
check "--force: nothing left beside" "" "$(others doc.pdf doc-masked.pdf err)"

"$velumo" mask -o "odd name 見積.pdf" --dpi 100 doc.pdf >/dev/null 2>&1; status=$?
check "-o and --dpi: status" 0 "$status"
check "-o and --dpi: the picture at 100 dpi" 850 "$(pdfimages -list "odd name 見積.pdf" | awk 'NR == 3 {print $4}')"
out=$("$velumo" mask -o doc.pdf doc.pdf 2>err); status=$?
check "-o naming the original: refused" 1 "$status"
check "-o naming the original: unchanged" "" "$(cmp doc.pdf "$fixtures/ghostscript.pdf" 2>&1)"
ln -s doc.pdf link.pdf
"$velumo" mask --force -o link.pdf doc.pdf >/dev/null 2>&1; status=$?
check "-o through a link to the original: refused" "1 link" "$status $([ -L link.pdf ] && echo link)"
check "-o through a link to the original: unchanged" "" "$(cmp doc.pdf "$fixtures/ghostscript.pdf" 2>&1)"
"$velumo" mask -o one.pdf doc.pdf doc-masked.pdf >/dev/null 2>&1; status=$?
check "-o with two documents: usage error" 2 "$status"
for dpi in 10 1201 2x ""; do
  "$velumo" mask --dpi "$dpi" doc.pdf >/dev/null 2>&1; status=$?
  check "--dpi '$dpi': usage error" 2 "$status"
done
echo '{"pages":[]}' >doc.json
"$velumo" mask -o doc-out.json doc.json >/dev/null 2>&1; status=$?
check "-o with a JSON document: refused" "1 no copy" "$status $([ -e doc-out.json ] || echo no copy)"
rm -f link.pdf doc.json

chmod 600 doc.pdf
(umask 022 && "$velumo" mask -o private.pdf doc.pdf >/dev/null 2>&1)
check "a private original gives a private copy" 600 "$(stat -c %a private.pdf)"
if [ "$(id -u)" = 0 ]; then
  chgrp nogroup doc.pdf && chmod 640 doc.pdf
  (umask 002 && "$velumo" mask -o group.pdf doc.pdf >/dev/null 2>&1)
  check "the copy is readable by the original's group only" "640 nogroup" "$(stat -c '%a %G' group.pdf)"
fi
rm -f ./*.pdf err

# Access: the original's ACL, never the folder's default ACL; the umask narrows.
mkdir acl && cp "$fixtures/ghostscript.pdf" acl/named.pdf && cp acl/named.pdf acl/plain.pdf
chmod 600 acl/plain.pdf
if setfacl -m u:1234:r acl/named.pdf 2>/dev/null && setfacl -d -m u:4321:rw acl; then
  "$velumo" mask acl/named.pdf acl/plain.pdf >/dev/null 2>&1; status=$?
  check "ACL: masked" 0 "$status"
  check "ACL: the original's named user, and no more" "user:1234:r--" \
    "$(getfacl -cp acl/named-masked.pdf 2>/dev/null | grep -E '^user:[0-9]' | xargs)"
  check "ACL: the folder's default ACL is not given to the copy" "600" \
    "$(stat -c %a acl/plain-masked.pdf)$(getfacl -cp acl/plain-masked.pdf | grep 4321)"
else
  echo "note: no ACLs here (setfacl failed); the ACL checks are skipped"
fi
rm -rf acl
cp "$fixtures/ghostscript.pdf" doc.pdf
chmod 644 doc.pdf
(umask 077 && "$velumo" mask doc.pdf >/dev/null 2>&1)
check "the umask narrows the copy's access" 600 "$(stat -c %a doc-masked.pdf)"
rm -f doc-masked.pdf

# Links and devices at the copy's name: never replaced, never written through
# unless the user said so.
ln -s nowhere.pdf doc-masked.pdf
"$velumo" mask --force doc.pdf >/dev/null 2>err; status=$?
check "a link that leads nowhere at the copy's name: refused, left" "1 nowhere.pdf 1" \
  "$status $(readlink doc-masked.pdf) $(grep -c 'leads nowhere' err)"
check "a link that leads nowhere: nothing created" "" "$(others doc.pdf doc-masked.pdf err)"
rm doc-masked.pdf
echo "someone's file" >other.pdf && ln -s other.pdf doc-masked.pdf
"$velumo" mask doc.pdf >/dev/null 2>&1; status=$?
check "a link to another file at the copy's name: refused without --force" "1 someone's file" \
  "$status $(cat other.pdf)"
"$velumo" mask --force doc.pdf >/dev/null 2>&1; status=$?
check "a link to another file, --force: the file written, the link left" "0 link PDF" \
  "$status $([ -L doc-masked.pdf ] && echo link) $(head -c 4 other.pdf | tail -c 3)"
rm -f doc-masked.pdf other.pdf
"$velumo" mask --force -o /dev/null doc.pdf >/dev/null 2>err; status=$?
check "-o a device, --force: refused" "1 1" "$status $(grep -c 'not a regular file' err)"

# Whatever stops the writing leaves no copy and nothing half-written.
out=$(ulimit -f 8 && "$velumo" mask doc.pdf 2>err); status=$?
check "file-size limit: stopped, with the reason" "1 1" "$status $(grep -c -m 1 'File too large' err)"
check "file-size limit: nothing left" "" "$(others doc.pdf err)"
if [ "$(id -u)" = 0 ] && mkdir full && unshare -m true 2>/dev/null; then
  cp doc.pdf full/
  out=$(unshare -m sh -c 'mount -t tmpfs -o size=16k velumo-full full && cp doc.pdf full/ &&
    "$1" mask full/doc.pdf >/dev/null 2>err; echo "status $?"; ls -A full; df --output=used -k full | tail -1' \
    sh "$velumo")
  check "full disk: stopped, no copy, the space given back" "status 1 doc.pdf 4" "$(echo $out)"
  check "full disk: the reason" 1 "$(grep -c 'No space left' err)"
  rm -rf full
else
  echo "note: not root or no mount namespace here; the full disk is not checked"
fi
cp "$fixtures/libreoffice.pdf" slow.pdf
for signal in TERM KILL; do
  "$velumo" mask --dpi 1200 slow.pdf >/dev/null 2>&1 &
  sleep 1
  kill -"$signal" $! 2>/dev/null
  wait $!; status=$?
  check "SIG$signal while the copy is written: the run ended by it, nothing left" \
    "$((128 + $(kill -l "$signal"))) " "$status $(others doc.pdf slow.pdf err)"
done
rm -f ./*.pdf err

# --- bad input: refused, with the reason, and nothing written -----------------

refused() {  # refused NAME MESSAGE REASON-PATTERN
  cp "$fixtures/$1" .
  out=$("$velumo" mask "$1" 2>err); status=$?
  check "$1: status" 1 "$status"
  check "$1: message" "$2"$'\n'"$stopped" "$out"
  check "$1: said why" 1 "$(grep -c -m 1 -E "$3" err)"
  check "$1: nothing written" "" "$(others "$1" err)"
  rm -f "$1" err
}
refused not-a-pdf.pdf "$bad_format" "not a readable PDF"
refused truncated.pdf "$bad_format" "not a readable PDF"
refused password.pdf "$cannot_open" "needs a password"
refused restricted.pdf "$no_right" "encrypted"
refused loop.pdf "$bad_format" "page tree|damaged"
refused bad-xref.pdf "$bad_format" "xref not found"
refused bad-length.pdf "$bad_format" "read only with repairs"

# --- odd but valid ---------------------------------------------------------------

cp "$fixtures/zero-frame.pdf" .
"$velumo" mask zero-frame.pdf >/dev/null 2>&1; status=$?
pdftoppm -r 50 -png -singlefile zero-frame-masked.pdf zero
check "a keep-frame of no width keeps nothing" "0 black" \
  "$status $(/usr/bin/python3 -c 'import sys; from PIL import Image; print("black" if Image.open("zero.png").convert("RGB").getbbox() is None else "not black")')"

for name in negative-frame thousands; do
  cp "$fixtures/$name.pdf" .
  "$velumo" mask "$name.pdf" >/dev/null 2>&1; status=$?
  check "$name: status" 0 "$status"
  /usr/bin/python3 "$pdf_dir/check_masked.py" "$name.pdf" "$name-masked.pdf" \
    "$fixtures/manifest.json" "$name.pdf" 100 >check.out 2>&1; status=$?
  check "$name: pixels and text" 0 "$status"
  [ "$status" = 0 ] || cat check.out
done

cp "$fixtures/shared-resources.pdf" .
"$velumo" mask shared-resources.pdf >/dev/null 2>&1; status=$?
qpdf --qdf --object-streams=disable shared-resources-masked.pdf shared.qdf
check "resources shared with a masked page: the image, font and layer only it used are gone" \
  "0 0 1 0 1" "$status $(grep -ac '/Width 7' shared.qdf) $(grep -ac '/Width 5' shared.qdf) $(grep -ac VELUMO-SECRET shared.qdf) $(grep -ac 'every page' shared.qdf)"
check "resources shared with a masked page: no layer left that is no more" \
  "['every page'] ['every page'] ['every page']" "$(/usr/bin/python3 -c '
import sys, pikepdf
oc = pikepdf.open(sys.argv[1]).Root.OCProperties
print(*([str(layer.Name) for layer in array] for array in (oc.OCGs, oc.D.Order, oc.D.ON)))' \
  shared-resources-masked.pdf 2>&1)"

cp "$fixtures/many-pages.pdf" .
"$velumo" mask many-pages.pdf >/dev/null 2>&1; status=$?
check "10,000 pages: status" 0 "$status"
check "10,000 pages: all there" 10000 "$(pdfinfo many-pages-masked.pdf | awk '/^Pages:/ {print $2}')"
# pdftotext ends every page with a form feed.
check "10,000 pages: the last one masked, the others kept" "1 $(pdftotext -f 1 -l 1 many-pages.pdf - | wc -c)" \
  "$(pdftotext -f 10000 -l 10000 many-pages-masked.pdf - | wc -c) $(pdftotext -f 1 -l 1 many-pages-masked.pdf - | wc -c)"

finish
