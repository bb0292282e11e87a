#!/usr/bin/env bash
# Runs the native test suite of a built tree again under valgrind memcheck:
# every GoogleTest program (velumo_*_test in BUILD/tests), then every test of
# the tree that drives the runner (a ctest whose command names
# BUILD/runner/velumo), with the runner started under valgrind instead; but
# not those labelled stress, which fail allocations and time signals
# themselves.
# Usage: mk/memcheck.sh BUILD   (run by `make memcheck`; BUILD is build/native)
#
# Passes when no process has a memory error and none leaks memory
# definitely or indirectly; prints the count of processes and allocations.
# The logs, one per process, are in BUILD/memcheck/.
set -euo pipefail
build=$(cd "${1:?usage: memcheck.sh BUILD}" && pwd)
logs=$build/memcheck
# shellcheck disable=SC2054  # the commas are part of the options
VALGRIND=(valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect
  --show-leak-kinds=definite,indirect --suppressions="$(cd "$(dirname "$0")/.." && pwd)/tests/valgrind.supp")

rm -rf "$logs"
mkdir -p "$logs"

programs=$(find "$build/tests" -maxdepth 1 -type f -name 'velumo_*_test' -perm -u+x | sort)
if [ -z "$programs" ]; then
  echo "memcheck: no velumo_*_test program in $build/tests"
  exit 1
fi
for program in $programs; do
  name=$(basename "$program")
  if "${VALGRIND[@]}" --log-file="$logs/$name.%p.log" "$program" --gtest_brief=1 >"$logs/$name.out" 2>&1; then
    echo "memcheck $name: $(grep -o '[0-9]* tests\? from [0-9]* test suites\? ran' "$logs/$name.out")"
  else
    cat "$logs/$name.out" "$logs/$name".*.log
    echo "memcheck $name: FAILED (logs in $logs)"
    exit 1
  fi
done

# The runner under valgrind, for the scripts that drive it. One script runs
# it as another user (nobody), whose logs must be writable too.
runner=$build/runner/velumo
wrapper=$logs/velumo-under-valgrind
printf '#!/bin/sh\nexec %s --log-file=%s/velumo.%%p.log %s "$@"\n' \
  "${VALGRIND[*]}" "$logs" "$runner" >"$wrapper"
chmod +x "$wrapper"
chmod 1777 "$logs"

# The fixtures those tests read (the PDF documents made by other programs)
# are made first, by ctest, as a whole test run would.
mapfile -t setups < <(ctest --test-dir "$build" --show-only=json-v1 | /usr/bin/python3 -c '
import json, sys
for test in json.load(sys.stdin)["tests"]:
    if any(p["name"] == "FIXTURES_SETUP" for p in test.get("properties", [])):
        print(test["name"])
')
if [ "${#setups[@]}" != 0 ]; then
  pattern=$(IFS='|'; echo "^(${setups[*]})\$")
  ctest --test-dir "$build" -R "$pattern" --output-on-failure >"$logs/fixtures.out" 2>&1 ||
    { cat "$logs/fixtures.out"; echo "memcheck: the fixtures could not be made"; exit 1; }
fi

# Each such test as ctest would run it (a line each: name, folder and command,
# apart by the unit separator), with the wrapper in place of the runner.
scripts=0
while IFS= read -r line; do
  IFS=$'\x1f' read -r -a fields <<<"$line"
  name=${fields[0]}
  folder=${fields[1]}
  command=("${fields[@]:2}")
  for i in "${!command[@]}"; do
    [ "${command[i]}" = "$runner" ] && command[i]=$wrapper
  done
  scripts=$((scripts + 1))
  if (cd "$folder" && "${command[@]}") >"$logs/$name.out" 2>&1; then
    echo "memcheck velumo ($name): $(tail -n 1 "$logs/$name.out")"
  else
    cat "$logs/$name.out"
    echo "memcheck velumo ($name): FAILED (logs in $logs)"
    exit 1
  fi
done < <(ctest --test-dir "$build" --show-only=json-v1 | /usr/bin/python3 -c '
import json, sys
runner = sys.argv[1]
for test in json.load(sys.stdin)["tests"]:
    if runner not in test.get("command", []):
        continue
    labels = next((p["value"] for p in test.get("properties", []) if p["name"] == "LABELS"), [])
    if "stress" in labels:
        continue
    folder = next((p["value"] for p in test.get("properties", []) if p["name"] == "WORKING_DIRECTORY"), ".")
    print("\x1f".join([test["name"], folder] + test["command"]))
' "$runner")
if [ "$scripts" = 0 ]; then
  echo "memcheck: no test of $build drives $runner"
  exit 1
fi

# A process that a test ends with a signal it does not catch (SIGTERM,
# SIGKILL while a copy is written) leaves what it held: only memory errors
# count there, not leaks. SIGKILL leaves no summary at all.
killed_cleanly() {  # killed_cleanly LOG
  grep -q 'Process terminating with default action of signal' "$1" || ! grep -q 'ERROR SUMMARY' "$1" ||
    return 1
  ! grep -qE '== (Invalid |Conditional jump|Use of uninitialised|Syscall param|Mismatched|Source and destination overlap)' "$1"
}
bad=()
for log in $(grep -L 'ERROR SUMMARY: 0 errors' "$logs"/*.log || true); do
  killed_cleanly "$log" || bad+=("$log")
done
if [ "${#bad[@]}" != 0 ]; then
  cat "${bad[@]}"
  echo "memcheck: errors in ${bad[*]}"
  exit 1
fi
processes=("$logs"/*.log)
echo "memcheck: ${#processes[@]} processes, $(cat "${processes[@]}" |
  awk '/total heap usage/ {gsub(",", "", $5); n += $5} END {print n}') allocations," \
  "0 errors, no memory definitely or indirectly lost"
