#!/usr/bin/env bash
# Line and branch coverage by the native test suite, with clang's
# source-based coverage: of masking/, and of the module's portable caption
# logic (plugin/app_title.cpp), which the native tests run too.
# Usage: mk/coverage.sh   (run by `make coverage`, which configures
#                          build/coverage first; JOBS cores, default all)
# The reports are build/coverage/masking-coverage.txt and
# build/coverage/app-title-coverage.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
build=build/coverage

# The build runs the test programs once to list their tests: those profiles
# go elsewhere.
LLVM_PROFILE_FILE=$PWD/$build/discovery/%p.profraw cmake --build --preset coverage -j "$jobs"
rm -rf "$build/profiles"
if ! LLVM_PROFILE_FILE=$PWD/$build/profiles/%p.profraw ctest --preset coverage -j "$jobs" \
    >"$build/ctest.log"; then
  grep -A20 -E 'Failure|\*\*\*' "$build/ctest.log" | head -n 80 || true
  exit 1
fi
# Tests that end the runner by a signal (SIGKILL, a file-size limit) cut its
# profile short: such a profile is skipped, with a warning, not the merge.
llvm-profdata-14 merge -sparse -failure-mode=all -o "$build/suite.profdata" "$build"/profiles/*.profraw

# Every program of the suite: the first as the object, the rest as -object=.
mapfile -t objects < <(find "$build/tests" "$build/runner" -maxdepth 1 -type f -perm -u+x -name 'velumo*' |
  LC_ALL=C sort | sed '2,$s/^/-object=/')

report() {  # report OUTPUT SOURCE...: llvm-cov's table for those sources
  local output=$1
  shift
  llvm-cov-14 report "${objects[@]}" -instr-profile="$build/suite.profdata" "$@" >"$output"
}
total() { awk '/^TOTAL/ {print $(NF-3)}' "$1"; }  # the line coverage of a table

report "$build/masking-coverage.txt" "$PWD"/masking/*.cpp
report "$build/app-title-coverage.txt" "$PWD/plugin/app_title.cpp"
cat "$build/masking-coverage.txt"
echo "coverage: line coverage of masking/ by the native test suite: $(total "$build/masking-coverage.txt")"
echo "coverage: line coverage of plugin/app_title.cpp by the native test suite:" \
  "$(total "$build/app-title-coverage.txt")"
