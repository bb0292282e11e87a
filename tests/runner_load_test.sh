#!/usr/bin/env bash
# A large document saved compactly and read back, masked twice in a row:
# seconds, more under the sanitizers and valgrind, so run by `make test` but
# not by `make check`.
# Usage: runner_load_test.sh VELUMO_BINARY
set -u
velumo=$1
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"
cd "$work" || exit 1

# A large document saves compactly and reads back: masked twice in a row.
python3 - big.json <<'PY'
import json, sys
frame = {"type": 32829, "x": 0, "y": 0, "width": 0, "height": 0,
         "attributes": {"%BorderStyle": 1, "%FillStyle": 0}}
pages = []
for p in range(6000):
    annotations = []
    for i in range(5):
        annotations.append(dict(frame, x=1000 + 3500 * i, y=2000 + 4000 * i, width=3000, height=3000))
    for i in range(8):
        annotations.append({"type": 32816, "x": 500, "y": 1000 + 3000 * i, "width": 9000,
                            "height": 800, "attributes": {"%FontSize": 10}, "text": "line %d" % i})
    pages.append({"width": 21000, "height": 29700, "annotations": annotations})
json.dump({"pages": pages}, open(sys.argv[1], "w"))
PY
"$velumo" mask big.json >/dev/null; status=$?
check "large document: masked" 0 "$status"
check "large document: one line of compact JSON" 1 "$(wc -l <big.json)"
out=$("$velumo" mask big.json 2>&1); status=$?
check "large document: reads back and masks again" "0 $finished" "$status $out"

finish
