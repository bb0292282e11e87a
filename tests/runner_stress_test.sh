#!/usr/bin/env bash
# The runner against shortages and races, run by `make test` but not by `make
# check` nor under valgrind (which brings its own allocator and timing): with
# the failing_malloc library (tests/stress/), every allocation of a run
# failing in turn; then a short run of the signal-and-race stress
# (tests/stress/file_safety_stress.py), which must count no corrupt document,
# lost update, leftover copy or silent death.
# Usage: runner_stress_test.sh VELUMO_BINARY [FAILING_MALLOC_LIBRARY]
set -u
velumo=$1
failing_malloc=${2:-}
# shellcheck source=tests/runner_lib.sh
. "$(dirname "$0")/runner_lib.sh"
stress=$(cd "$(dirname "$0")" && pwd)/stress/file_safety_stress.py
cd "$work" || exit 1

# Every allocation of a run failing in turn (two documents, and a new
# picture): a message and a status, never a death; each document as it was
# or masked, no copy, no partial picture.
if [ -n "$failing_malloc" ]; then
  mkdir shortage && cd shortage || exit 1
  frame_doc a.before && frame_doc b.before
  cp a.before a.json && cp b.before b.json
  LD_PRELOAD=$failing_malloc VELUMO_COUNT_ALLOCATIONS=$PWD/../count "$velumo" mask a.json b.json >/dev/null
  total=$(cat ../count)
  died=0 corrupt=0 left=0
  for n in $(seq 1 "$total"); do
    cp a.before a.json && cp b.before b.json
    LD_PRELOAD=$failing_malloc VELUMO_FAIL_ALLOCATION=$n "$velumo" mask a.json b.json >said 2>&1
    status=$?
    if [ "$status" -gt 4 ] || { [ "$status" != 0 ] && ! [ -s said ]; }; then
      died=$((died + 1)); echo "allocation $n of $total: status $status: $(cat said)"
    fi
    for d in a b; do
      cmp -s $d.json $d.before || [ "$(has_frame $d.json)" = 0 ] || corrupt=$((corrupt + 1))
    done
    [ "$(ls -A | tr '\n' ' ')" = "a.before a.json b.before b.json said " ] || left=$((left + 1))
  done
  check "each of $total allocations failing: no death, a message" 0 "$died"
  check "each of $total allocations failing: documents whole" 0 "$corrupt"
  check "each of $total allocations failing: no copy left" 0 "$left"
  LD_PRELOAD=$failing_malloc VELUMO_COUNT_ALLOCATIONS=$PWD/../count "$velumo" render a.json -o new.svg
  total=$(cat ../count)
  partial=0
  for n in $(seq 1 "$total"); do
    rm -f new.svg
    LD_PRELOAD=$failing_malloc VELUMO_FAIL_ALLOCATION=$n "$velumo" render a.json -o new.svg >said 2>&1
    status=$?
    [ "$status" = 0 ] && continue
    [ -s said ] || died=$((died + 1))
    [ -e new.svg ] && partial=$((partial + 1))
  done
  check "render, each of $total allocations failing: a message, no partial picture" "0 0" "$died $partial"
  cd .. || exit 1
fi

# A short stress run (make stress runs a long one); fixed seed, so that a
# failure can be run again as it was.
/usr/bin/python3 "$stress" "$velumo" --runs "${STRESS_RUNS:-150}" --seed 1 --pages 200 \
  --folder "$work" ${failing_malloc:+--failing-malloc "$failing_malloc"} >stress.out 2>&1
status=$?
cat stress.out
check "stress run: nothing corrupt, lost or left, no silent death" 0 "$status"

finish
