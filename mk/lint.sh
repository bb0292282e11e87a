#!/usr/bin/env bash
# Static analysis of the project's own code, in turn:
#  1. build/lint, the native tree built with clang (warnings as errors), and
#     its tests;
#  2. clang-tidy (.clang-tidy) on masking/, hostsim/ and runner/ with
#     build/lint's compile commands;
#  3. clang-tidy on plugin/ and hostsim/*_windows.cpp with the compile
#     commands of the 64-bit Windows test build (build/win64, configured is
#     enough), read as MinGW code with MinGW's libstdc++ and Windows headers;
#  4. cppcheck on masking/, hostsim/, runner/ and plugin/;
#  5. clang-format (.clang-format) on every C++ source and header.
# Usage: mk/lint.sh   (run by `make lint`, which configures both trees first;
#                      JOBS cores, default all)
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${JOBS:-$(nproc)}
LINT_BUILD=build/lint
WIN_BUILD=build/win64

sorted() { printf '%s\n' "$@" | LC_ALL=C sort; }
mapfile -t tidy_sources < <(sorted masking/*.cpp hostsim/*.cpp runner/*.cpp | grep -v '_windows\.cpp$')
mapfile -t tidy_windows_sources < <(sorted plugin/*.cpp hostsim/*_windows.cpp)
mapfile -t format_files < <(sorted hostapi/*.h masking/*.h masking/*.cpp hostsim/*.h hostsim/*.cpp \
  runner/*.h runner/*.cpp plugin/*.h plugin/*.cpp tests/*.cpp tests/support/*.h tests/support/*.cpp \
  tests/fuzz/*.h tests/fuzz/*.cpp tests/windows/*.h tests/windows/*.cpp bench/*.cpp)

# Stops unless every source has its own compile command in the build's
# database (clang-tidy would otherwise guess one).
in_database() {  # in_database BUILD SOURCE...
  local build=$1 source
  shift
  for source in "$@"; do
    if ! grep -q "\"file\": \"$PWD/$source\"" "$build/compile_commands.json"; then
      echo "lint: $source has no compile command in $build/compile_commands.json"
      exit 1
    fi
  done
}

# clang-tidy on each source, quiet unless it finds something.
tidy() {  # tidy BUILD CLANG-TIDY-OPTION... -- SOURCE...
  local build=$1 options=()
  shift
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  printf '%s\n' "$@" | xargs -P "$jobs" -n 1 clang-tidy -p "$build" --quiet "${options[@]}" 2>&1 |
    { grep -v 'warnings generated' || true; }
}

cmake --build --preset lint -j "$jobs"
if ! ctest --preset lint -j "$jobs" >"$LINT_BUILD/ctest.log"; then
  grep -A20 -E 'Failure|\*\*\*' "$LINT_BUILD/ctest.log" | head -n 80 || true
  exit 1
fi
echo "lint: clang++-14 builds the native tree with warnings as errors, and its tests pass"

in_database "$LINT_BUILD" "${tidy_sources[@]}"
tidy "$LINT_BUILD" -- "${tidy_sources[@]}"
echo "lint: clang-tidy clean on masking/, hostsim/, runner/"

# MinGW's own include folders, without gcc's compiler headers (clang brings its own).
mingw_includes=()
while IFS= read -r folder; do
  mingw_includes+=("--extra-arg=-isystem$(realpath -sm "$folder")")
done < <(echo | x86_64-w64-mingw32-g++ -xc++ -E -v - 2>&1 |
  sed -n '/^#include <\.\.\.>/,/^End of search/p' | grep '^ /' | sed 's/^ //' |
  grep -vE '/gcc/[^/]+/[^/]+/include(-fixed)?$')
in_database "$WIN_BUILD" "${tidy_windows_sources[@]}"
tidy "$WIN_BUILD" --extra-arg-before=--target=x86_64-w64-mingw32 "${mingw_includes[@]}" -- \
  "${tidy_windows_sources[@]}"
echo "lint: clang-tidy clean on plugin/ and hostsim/*_windows.cpp (MinGW compile commands of $WIN_BUILD)"

# The generated headers of the host boundary come from build/lint.
cppcheck -q --std=c++17 --language=c++ --enable=warning,style,performance,portability --inline-suppr \
  --error-exitcode=1 -I . -I "$LINT_BUILD/hostapi/include" --suppress=missingIncludeSystem \
  --suppress=useStlAlgorithm masking hostsim runner plugin
echo "lint: cppcheck clean on masking/, hostsim/, runner/, plugin/"

clang-format --dry-run --Werror "${format_files[@]}"
echo "lint: clang-format clean"
