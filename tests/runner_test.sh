#!/usr/bin/env bash
# Drives the console runner as a user does and checks what it prints, its
# exit status and what it leaves on disk (also velumo_host: see runner_lib.sh).
# Usage: runner_test.sh VELUMO_BINARY EXAMPLES_DIR
set -u
velumo=$1
examples=$2
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"

# The shipped sample is masked and the run ends with the closing message.
frames() { tr -d ' \n' <"$1" | grep -o '"%BorderStyle":1,"%FillStyle":0' | wc -l; }
cp "$examples/sample.json" "$work/sample.json"
check "sample: keep-frames before" 4 "$(frames "$work/sample.json")"
out=$("$velumo" mask "$work/sample.json"); status=$?
check "sample: output" "$finished" "$out"
check "sample: status" 0 "$status"
check "sample: keep-frames gone" 0 "$(frames "$work/sample.json")"

# No file: the selection message, status 1.
out=$("$velumo" mask); status=$?
check "no file: output" "対象のXDW文書を選択してから実行してください。" "$out"
check "no file: status" 1 "$status"

# Three documents, the second missing: stop after it, the third untouched.
frame_doc "$work/a.json"; frame_doc "$work/c.json"
cp "$work/c.json" "$work/c.before"
out=$("$velumo" mask "$work/a.json" "$work/b.json" "$work/c.json"); status=$?
check "stop rule: output" "指定されたファイルが見つかりません。"$'\n'"$stopped" "$out"
check "stop rule: status" 1 "$status"
check "stop rule: third untouched" "" "$(cmp "$work/c.json" "$work/c.before" 2>&1)"
check "stop rule: first masked" 1 "$(grep -c '"%BorderStyle":0' <(tr -d ' \n' <"$work/a.json"))"

# A refused piece names the page and the path as given, non-ASCII and "%" included.
name="$work/資料 100%d.json"
frame_doc "$name" '{"minAnnotationSize":5000}'
out=$("$velumo" mask "$name"); status=$?
check "refusal: output" "1ページにマスクできない部分がありました。($name)"$'\n'"$finished" "$out"
check "refusal: status (finished, parts uncovered)" 3 "$status"

# Not a document: the format message.
echo '{"pages": 7}' >"$work/bad.json"
out=$("$velumo" mask "$work/bad.json"); status=$?
check "bad file: output" "指定されたファイルは正しいフォーマットではありません。"$'\n'"$stopped" "$out"
check "bad file: status" 1 "$status"

# Usage errors: status 2, explained on standard error, nothing on standard output.
for args in "" "frob" "render" "render $work/a.json" "render $work/a.json -x $work/o.svg"; do
  # shellcheck disable=SC2086
  out=$("$velumo" $args 2>"$work/err"); status=$?
  check "usage '$args': status" 2 "$status"
  check "usage '$args': no output" "" "$out"
  check "usage '$args': explained" 1 "$([ -s "$work/err" ] && echo 1 || echo 0)"
done

# Render writes an SVG picture.
if only_runner "render is the runner's own drawing code, not a command of the plug-in"; then
  "$velumo" render "$work/a.json" -o "$work/a.svg"; status=$?
  check "render: status" 0 "$status"
  check "render: svg" 1 "$(grep -c '<svg' "$work/a.svg")"
fi

finish
