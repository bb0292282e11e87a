#!/usr/bin/env bash
# The PDF part of `make demo`: makes a PDF from examples/quotation.txt with
# LibreOffice, draws keep-frames on it as a PDF viewer's rectangle tool would
# (examples/add_keep_frames.py), masks it with velumo and renders the pages
# before and after with pdftoppm.
# Usage: pdf_demo.sh VELUMO OUTDIR
set -euo pipefail
velumo=$1
out=$2
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$out"
soffice -env:UserInstallation="file://$(cd "$out" && pwd)/lo-profile" --headless \
  --convert-to pdf --outdir "$out" "$here/quotation.txt" >/dev/null 2>&1
/usr/bin/python3 "$here/add_keep_frames.py" "$out/quotation.pdf"
echo "--- velumo mask $out/quotation.pdf"
"$velumo" mask --force "$out/quotation.pdf"
pdftoppm -r 60 -png -singlefile "$out/quotation.pdf" "$out/pdf-before"
pdftoppm -r 60 -png -singlefile "$out/quotation-masked.pdf" "$out/pdf-after"
echo "Pictures: $out/pdf-before.png (keep-frames in red) and $out/pdf-after.png (the masked copy)"
