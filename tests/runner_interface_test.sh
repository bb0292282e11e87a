#!/usr/bin/env bash
# What the runner says and to whom: names it refuses before touching any
# document, standard output that holds exactly the plug-in's messages in
# UTF-8, diagnostics on standard error, help and version (also velumo_host:
# see runner_lib.sh).
# Usage: runner_interface_test.sh VELUMO_BINARY VERSION
set -u
velumo=$1
version=$2
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"
cd "$work" || exit 1

# --- names that code page 932 cannot hold exactly ------------------------------

# Each name has a neighbour that the lossy round trip would reach instead.
frame_doc good.json
frame_doc '見積～2024.json'
frame_doc 'cafﾃｩ.json'
frame_doc 'price\.json'
frame_doc "$(printf 'sjis-\x95\x5c.json')"
for name in '見積〜2024.json' 'café.json' 'price¥.json' "$(printf 'sjis-\x95\x5c.json')" 'emoji-😀.json'; do
  [ -e "$name" ] || frame_doc "$name"
  out=$("$velumo" mask good.json "$name" 2>err); status=$?
  check "name $name: usage error" 2 "$status"
  check "name $name: nothing on standard output" "" "$out"
  check "name $name: named on standard error" 1 "$(grep -c 'cannot be handed to the host' err)"
  check "name $name: standard error is UTF-8" 1 "$(iconv -f UTF-8 -t UTF-8 err >/dev/null 2>&1 && echo 1)"
done
check "names: the document before them untouched" 1 "$(has_frame good.json)"
for neighbour in '見積～2024.json' 'cafﾃｩ.json' 'price\.json'; do
  check "names: $neighbour untouched" 1 "$(has_frame "$neighbour")"
done
frame_doc '見積～2024.json'
out=$("$velumo" mask '見積～2024.json'); status=$?
check "a name that survives the round trip is masked" "0 $finished" "$status $out"

# --- standard output -----------------------------------------------------------

# A control character in a path is escaped, so each message keeps its line.
if only_runner "Windows file names cannot hold control characters"; then
  name=$(printf 'line\nbreak\033.json')
  frame_doc "$name" '{"minAnnotationSize":5000}'
  out=$("$velumo" mask "$name"); status=$?
  check "control characters: status" 3 "$status"
  check "control characters: escaped, one message per line" \
    "1ページにマスクできない部分がありました。(line\\x0abreak\\x1b.json)"$'\n'"$finished" "$out"
fi

frame_doc plain.json
"$velumo" mask plain.json >/dev/full 2>/dev/null; status=$?
check "standard output that cannot be written: status 4" 4 "$status"
check "standard output that cannot be written: still masked" 0 "$(has_frame plain.json)"

if only_runner "Windows file names hold neither a tab nor a backslash"; then
  # A real tab and the four characters \x09 in a name read differently.
  frame_doc "$(printf 'tab\t.json')" '{"minAnnotationSize":5000}'
  frame_doc 'tab\x09.json' '{"minAnnotationSize":5000}'
  out=$("$velumo" mask "$(printf 'tab\t.json')" 'tab\x09.json'); status=$?
  check "a tab and a written escape: told apart" \
    "1ページにマスクできない部分がありました。(tab\\x09.json)"$'\n'"1ページにマスクできない部分がありました。(tab\\\\x09.json)"$'\n'"$finished" \
    "$out"
fi

if only_runner "Wine hands arguments over in the Windows code page"; then
  # Characters that reorder a line are escaped on standard error too.
  "$velumo" mask "$(printf 'invoice-\xe2\x80\xaefdp.json')" 2>err; status=$?
  check "bidirectional control: usage error" 2 "$status"
  check "bidirectional control: escaped on standard error" "1 0" \
    "$(grep -c 'invoice-\\u202efdp.json' err) $(grep -c "$(printf '\xe2\x80\xae')" err)"
fi

"$velumo" mask missing.json >/dev/full 2>/dev/null; status=$?
check "a stopped run whose output is lost: status 1" 1 "$status"

# --- arguments ---------------------------------------------------------------------

# Only the first -- ends the options: every name after it is a file, even
# --, --help and -.
for name in -- --help -; do
  frame_doc "./$name"
  out=$("$velumo" mask -- "$name" 2>err); status=$?
  check "a file named $name after --" "0 $finished" "$status $out"
  check "a file named $name after --: masked" 0 "$(has_frame "./$name")"
done
frame_doc ./-
out=$("$velumo" mask - 2>err); status=$?
check "a file named - is no option" "0 $finished" "$status $out"
rm -f -- -- --help -
full_args=("--help" "--version")
if only_runner "render is the runner's own drawing code, not a command of the plug-in"; then
  "$velumo" render good.json -o extra.svg extra 2>/dev/null; status=$?
  check "render with one argument too many: usage error, nothing written" "2 no" \
    "$status $([ -e extra.svg ] && echo yes || echo no)"
  full_args+=("render good.json -o -")
fi
for args in "${full_args[@]}"; do
  # shellcheck disable=SC2086
  "$velumo" $args >/dev/full 2>/dev/null; status=$?
  check "'$args' into a full disk: status 4" 4 "$status"
done

# --- help and version ------------------------------------------------------------

help_args=("--help" "-h" "mask --help")
if only_runner "render -h: the plug-in has no render command"; then help_args+=("render -h"); fi
for args in "${help_args[@]}"; do
  # shellcheck disable=SC2086
  out=$("$velumo" $args 2>err); status=$?
  check "'$args': status" 0 "$status"
  check "'$args': usage" 1 "$(grep -c "^usage: $program mask" <<<"$out")"
  check "'$args': exit statuses" 1 "$(grep -c 'Exit status' <<<"$out")"
  check "'$args': the document format" 1 "$(grep -c 'The console runner' <<<"$out")"
  check "'$args': nothing on standard error" "" "$(cat err)"
done
check "'mask --help' touched no file named --help" "" "$(ls -- --help 2>/dev/null)"
out=$("$velumo" --version); status=$?
check "--version" "0 $program $version" "$status $out"
out=$("$velumo" mask --frob good.json 2>err); status=$?
check "unknown option: usage error" 2 "$status"
frame_doc ./--odd.json
out=$("$velumo" mask -- --odd.json); status=$?
check "a file named like an option, after --" "0 $finished" "$status $out"

# --- diagnostics on standard error -------------------------------------------------

frame_doc failing.json '{"failures":[{"ordinal":56,"call":2,"result":"0x80004005"}]}'
out=$("$velumo" mask failing.json 2>err); status=$?
check "attribute read fails: stopped quietly, as the plug-in" "1 $stopped" "$status $out"
check "attribute read fails: the call, page and annotation on standard error" \
  "velumo: failing.json: page 1, annotation 1: reading attribute %FillStyle failed (0x80004005)" \
  "$(cat err)"

frame_doc removal.json '{"failures":[{"ordinal":65,"call":1,"result":"0x80004005"}]}'
"$velumo" mask removal.json >/dev/null 2>err
check "removal fails: on standard error" \
  "velumo: removal.json: page 1, annotation 1: removing the keep-frame failed (0x80004005)" \
  "$(cat err)"

mkdir locked
chmod 755 "$work"
frame_doc locked/doc.json
chmod 666 locked/doc.json
chmod 555 locked
if ! only_runner "Wine runs a prefix only for the user who owns it, so not as another user"; then
  :
elif [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  out=$(setpriv --reuid=65534 --regid=65534 --clear-groups "$velumo" mask locked/doc.json 2>err)
  status=$?
  check "save refused by the system: the plug-in's message" "1 $cannot_open"$'\n'"$stopped" \
    "$status $out"
  check "save refused by the system: the system's reason" 1 \
    "$(grep -c '^velumo: locked/doc.json: saving the document failed (0x80070005): cannot create a temporary file next to locked/doc.json: Permission denied$' err)"
  check "save refused by the system: untouched" 1 "$(has_frame locked/doc.json)"
else
  echo "note: not root or no setpriv; the save refused by the system is not checked"
fi

finish
