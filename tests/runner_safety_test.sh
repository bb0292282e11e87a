#!/usr/bin/env bash
# The runner never loses or misdirects a user's data, whatever file, link or
# path it is given: what it writes over, links, owners, what a save keeps
# (ACLs included), the limits it meets. Run as root (as CI does) it also
# checks devices, other owners and append-only folders. Also run on
# velumo_host (see runner_lib.sh).
# Usage: runner_safety_test.sh VELUMO_BINARY
set -u
velumo=$1
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"
cd "$work" || exit 1

# --- render -o: the picture never replaces what it must not ------------------

frame_doc doc.json
if only_runner "render is the runner's own drawing code, not a command of the plug-in"; then
  cp doc.json doc.before
  mkdir sub
  ln -s doc.json link-to-doc.json
  for out in doc.json ./sub/../doc.json "$work/doc.json" link-to-doc.json; do
    "$velumo" render doc.json -o "$out" 2>err; status=$?
    check "render over its document as $out: status" 1 "$status"
    check "render over its document as $out: document kept" "" "$(cmp doc.json doc.before 2>&1)"
    check "render over its document as $out: said why" 1 "$(grep -c 'is the document itself' err)"
  done
  check "render: the link is still a link" link "$([ -L link-to-doc.json ] && echo link)"
  "$velumo" render link-to-doc.json -o doc.json 2>/dev/null; status=$?
  check "render of a link over its target: status" 1 "$status"
  check "render of a link over its target: document kept" "" "$(cmp doc.json doc.before 2>&1)"

  mkfifo pipe
  "$velumo" render doc.json -o pipe 2>err; status=$?
  check "render into a FIFO: status" 1 "$status"
  check "render into a FIFO: still a FIFO" fifo "$([ -p pipe ] && echo fifo)"
  check "render into a FIFO: said why" 1 "$(grep -c 'not a regular file' err)"

  if [ "$(id -u)" = 0 ] && [ -c /dev/null ]; then
    "$velumo" render doc.json -o /dev/null 2>/dev/null; status=$?
    check "render into /dev/null: status" 1 "$status"
    check "render into /dev/null: still a device" device "$([ -c /dev/null ] && echo device)"
  fi

  echo "old picture" >readonly.svg
  chmod 444 readonly.svg
  "$velumo" render doc.json -o readonly.svg 2>err; status=$?
  check "render over a read-only file: status" 1 "$status"
  check "render over a read-only file: kept" "old picture" "$(cat readonly.svg)"
  check "render over a read-only file: said why" 1 "$(grep -c 'read-only' err)"

  echo "old picture" >target.svg
  ln -s target.svg picture-link.svg
  "$velumo" render doc.json -o picture-link.svg; status=$?
  check "render through a link: status" 0 "$status"
  check "render through a link: the link stays" link "$([ -L picture-link.svg ] && echo link)"
  check "render through a link: the target is the picture" 1 "$(grep -c '<svg' target.svg)"

  out=$("$velumo" render doc.json -o -); status=$?
  check "render -o -: status" 0 "$status"
  check "render -o -: the picture on standard output" 1 "$(grep -c '</svg>' <<<"$out")"
  check "render -o -: no file named -" "" "$(ls -- - 2>/dev/null)"

  (umask 027 && "$velumo" render doc.json -o new.svg); status=$?
  check "render into a new file: status" 0 "$status"
  check "render into a new file: the umask's permissions" 640 "$(stat -c %a new.svg)"
fi

# --- links --------------------------------------------------------------------

mkdir real
frame_doc real/target.json
ln -s real/target.json symlink.json
out=$("$velumo" mask symlink.json); status=$?
check "mask through a symbolic link: status" 0 "$status"
check "mask through a symbolic link: still a link" link "$([ -L symlink.json ] && echo link)"
check "mask through a symbolic link: the target is masked" 0 "$(has_frame real/target.json)"
check "mask through a symbolic link: nothing left beside it" "target.json" "$(ls -A real)"

frame_doc first.json
ln first.json second.json
cp first.json hard.before
out=$("$velumo" mask first.json 2>err); status=$?
check "hard-linked document: refused" 1 "$status"
check "hard-linked document: the plug-in's message" "$cannot_open"$'\n'"$stopped" "$out"
check "hard-linked document: said why" 1 "$(grep -c 'hard links' err)"
check "hard-linked document: untouched" "" "$(cmp first.json hard.before 2>&1)"
check "hard-linked document: still linked" 2 "$(stat -c %h second.json)"

# --- what a save keeps ----------------------------------------------------------

if only_runner "the Windows stand-in saves by Windows calls, which carry no Unix owner, mode or extended attributes"; then
  frame_doc owned.json
  chmod 640 owned.json
  if [ "$(id -u)" = 0 ]; then chown nobody:nogroup owned.json; fi
  owner_before=$(stat -c %U:%G owned.json)
  xattrs=0
  if python3 -c 'import os, sys; os.setxattr(sys.argv[1], "user.velumo-test", b"kept")' owned.json 2>/dev/null; then
    xattrs=1
  else
    echo "note: this file system keeps no user extended attributes; that check is skipped"
  fi
  "$velumo" mask owned.json >/dev/null; status=$?
  check "owner and mode: masked" 0 "$status"
  check "owner and mode: masked content" 0 "$(has_frame owned.json)"
  check "owner and mode: owner and group kept" "$owner_before" "$(stat -c %U:%G owned.json)"
  check "owner and mode: mode kept" 640 "$(stat -c %a owned.json)"
  if [ "$xattrs" = 1 ]; then
    check "owner and mode: extended attribute kept" kept \
      "$(python3 -c 'import os, sys; print(os.getxattr(sys.argv[1], "user.velumo-test").decode())' owned.json)"
  fi
fi

# A name as long as the system allows still saves (the temporary name is short).
if only_runner "an ANSI path on Windows ends at 260 characters"; then
  long=$(printf 'a%.0s' $(seq 1 250)).json
  frame_doc "$long"
  "$velumo" mask "$long" >/dev/null 2>err; status=$?
  check "250-byte name: masked" 0 "$status"
  check "250-byte name: content" 0 "$(has_frame "$long")"
fi

# The folder's default ACL is not handed to the masked file: it keeps exactly
# the document's access.
mkdir acl
frame_doc acl/doc.json
chmod 640 acl/doc.json
if ! only_runner "the Windows stand-in saves by Windows calls, which carry no POSIX ACL"; then
  :
elif setfacl -d -m u:1234:rw acl 2>/dev/null; then
  "$velumo" mask acl/doc.json >/dev/null; status=$?
  check "default ACL of the folder: masked" "0 0" "$status $(has_frame acl/doc.json)"
  check "default ACL of the folder: not on the masked file" "" "$(getfacl -cp acl/doc.json | grep 1234)"
  check "default ACL of the folder: mode kept" 640 "$(stat -c %a acl/doc.json)"
else
  echo "note: no ACLs here (setfacl failed); the default ACL check is skipped"
fi

# --- limits: an error with a message, never a death or a copy ----------------

if only_runner "Wine dies of a file-size limit before the stand-in sees it"; then
  python3 -c 'import json; print(json.dumps({"pages": [{"width": 1000, "height": 1000, "annotations": [{"type": 32829, "x": 100, "y": 100, "width": 200, "height": 200, "attributes": {"%BorderStyle": 1, "%FillStyle": 0}}, {"type": 32816, "x": 1, "y": 1, "width": 1, "height": 1, "text": "x" * 40000}]}]}))' >limited.json
  cp limited.json limited.before
  mkdir limited && mv limited.json limited/
  out=$(ulimit -f 16 && "$velumo" mask limited/limited.json 2>err); status=$?
  check "file-size limit: stopped with the generic message" "1 エラーが発生しました。"$'\n'"$stopped" "$status $out"
  check "file-size limit: the reason on standard error" 1 "$(grep -c -m 1 'File too large' err)"
  check "file-size limit: untouched" "" "$(cmp limited/limited.json limited.before 2>&1)"
  check "file-size limit: no copy left" "limited.json" "$(ls -A limited)"
fi

if ! only_runner "append-only folders are a Linux matter"; then
  :
elif [ "$(id -u)" = 0 ] && mkdir appendonly && frame_doc appendonly/doc.json &&
  chattr +a appendonly 2>/dev/null; then
  cp appendonly/doc.json appendonly.before
  out=$("$velumo" mask appendonly/doc.json 2>err); status=$?
  chattr -a appendonly
  check "append-only folder: refused" "1 $cannot_open"$'\n'"$stopped" "$status $out"
  check "append-only folder: said why" 1 "$(grep -c 'append-only' err)"
  check "append-only folder: no copy left" "doc.json" "$(ls -A appendonly)"
  check "append-only folder: untouched" "" "$(cmp appendonly/doc.json appendonly.before 2>&1)"
else
  echo "note: not root or no chattr here; the append-only folder is not checked"
fi

# "A symbolic link that leads nowhere" is said of such a link only.
if only_runner "the Windows stand-in's reasons are the system's own"; then
  ln -s nowhere.json dangling.json
  "$velumo" mask dangling.json >/dev/null 2>err
  check "dangling link: said so" 1 "$(grep -c 'symbolic link that leads nowhere' err)"
  echo '{"pages": []}' | "$velumo" mask /dev/stdin >/dev/null 2>err
  check "/dev/stdin from a pipe: not a regular file" "1 0" \
    "$(grep -c 'not a regular file' err) $(grep -c 'leads nowhere' err)"
  "$velumo" render doc.json -o /dev/stdout 2>err | cat >/dev/null
  check "-o /dev/stdout into a pipe: not a regular file" "1 0" \
    "$(grep -c 'not a regular file' err) $(grep -c 'leads nowhere' err)"
  # A link in a folder whose full path is longer than PATH_MAX.
  deep=$(printf 'd%.0s' $(seq 1 200))
  (
    for _ in $(seq 1 25); do mkdir "$deep" && cd "$deep" || exit 1; done
    frame_doc target.json && ln -s target.json link.json
    "$velumo" mask link.json >/dev/null 2>"$work/err"
  )
  check "a link deeper than PATH_MAX: too long" "1 0" \
    "$(grep -c 'File name too long' err) $(grep -c 'leads nowhere' err)"
fi

# --- what the reader takes, and what it keeps --------------------------------

# Anything after the document (here a NUL byte and a second document) makes it
# a bad document, left as it is.
{ printf '{"pages":[]}\0'; cat doc.json; } >trailing.json
cp trailing.json trailing.before
out=$("$velumo" mask trailing.json 2>/dev/null); status=$?
check "NUL and a second document: refused" "$bad_format"$'\n'"$stopped" "$out"
check "NUL and a second document: untouched" "" "$(cmp trailing.json trailing.before 2>&1)"

printf '{"pages":[{"width":1000,"height":1000,"annotations":[{"type":32829,"x":100,"y":100,"width":200,"height":200,"attributes":{"%%BorderStyle":1,"%%FillStyle":0}}]}],"pages":[]}' >twice.json
cp twice.json twice.before
out=$("$velumo" mask twice.json 2>err); status=$?
check "member named twice: refused" "$bad_format"$'\n'"$stopped" "$out"
check "member named twice: untouched" "" "$(cmp twice.json twice.before 2>&1)"
check "member named twice: said why" 1 "$(grep -c '"pages" twice' err)"

printf '{"pages":[{"width":1000,"height":1000,"annotations":[{"type":32829,"x":100,"y":100,"width":200,"height":200,"attributes":{"%%BorderStyle":1,"%%FillStyle":0}},{"type":32816,"x":1,"y":1,"width":1,"height":1,"id":-9223372036854775809}],"scale":1.50000000000000000001,"tilt":-0}],"serial":18446744073709551616,"huge":1e400}' >numbers.json
"$velumo" mask numbers.json >/dev/null; status=$?
check "carried numbers: masked" 0 "$status"
for number in '"id":-9223372036854775809' '"scale":1.50000000000000000001' '"tilt":-0' \
  '"serial":18446744073709551616' '"huge":1e400'; do
  check "carried numbers: $number kept as spelled" 1 "$(grep -c -- "$number" numbers.json)"
done

finish
