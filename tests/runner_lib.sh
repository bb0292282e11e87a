# Shared by the runner's test scripts: a work folder, checks and documents.
# Source it after setting `velumo`; it sets `work` and counts checks.
#
# The program under test is the console runner, or with VELUMO_PROGRAM=
# velumo_host the Windows host program, which does the runner's mask command
# through the real plug-in in Wine (tests/windows/): `velumo` is then a
# script that starts it. What only the runner has, or what Windows cannot
# hold, is skipped for it, each part with its reason (`only_runner`).
program=${VELUMO_PROGRAM:-velumo}
work=$(mktemp -d)
trap 'chmod -R u+w "$work" 2>/dev/null; rm -rf "$work"' EXIT
passed=0
failed=0

check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" == "$3" ]; then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    printf 'FAIL %s\n  expected: %q\n  actual:   %q\n' "$1" "$2" "$3"
  fi
}

frame_doc() {  # frame_doc FILE [HOST-JSON]
  printf '{"pages":[{"width":1000,"height":1000,"annotations":[{"type":32829,"x":100,"y":100,"width":200,"height":200,"attributes":{"%%BorderStyle":1,"%%FillStyle":0}}]}]%s}\n' "${2:+,\"host\":$2}" >"$1"
}

# Whether a document still has its keep-frame (1) or was masked (0).
has_frame() { grep -c '"%BorderStyle":1,"%FillStyle":0' <(tr -d ' \n' <"$1"); }

skipped=0
# only_runner REASON: true for the console runner; for velumo_host, says that
# the part is skipped and why, and is false.
only_runner() {
  [ "$program" = velumo ] && return 0
  skipped=$((skipped + 1))
  echo "skipped for $program: $1"
  return 1
}

finish() {
  if [ "$skipped" -gt 0 ]; then
    echo "$passed passed, $failed failed, $skipped skipped"
  else
    echo "$passed passed, $failed failed"
  fi
  [ "$failed" -eq 0 ]
}

finished="マスキング処理を終了しました。"
stopped="エラーのため中止します。"
cannot_open="指定されたファイルを開くことができません。"
bad_format="指定されたファイルは正しいフォーマットではありません。"
