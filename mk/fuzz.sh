#!/usr/bin/env bash
# Runs one libFuzzer target of the fuzz tree (velumo_fuzz_TARGET in FUZZ_BUILD).
# Usage: mk/fuzz.sh replay FUZZ_BUILD TARGET
#            every input of tests/fuzz/corpus/TARGET once: the seeds and the
#            inputs of failures fixed before   (make fuzz-replay)
#        mk/fuzz.sh run FUZZ_BUILD TARGET SECONDS WORK [FLAGS...]
#            the target for SECONDS from that corpus, with libFuzzer's FLAGS;
#            new inputs go to WORK/TARGET (the repository's corpus stays as it
#            is), a failing input to FUZZ_BUILD/artifacts/; prints the
#            executions per second   (make fuzz-check, make fuzz)
# No input may take more than 10 s or 2 GiB. The log of each run is
# FUZZ_BUILD/replay-TARGET.log or FUZZ_BUILD/fuzz-TARGET.log.
set -euo pipefail
usage="usage: fuzz.sh replay FUZZ_BUILD TARGET | run FUZZ_BUILD TARGET SECONDS WORK [FLAGS...]"
action=${1:?$usage}
build=${2:?$usage}
target=${3:?$usage}
shift 3
root=$(cd "$(dirname "$0")/.." && pwd)
program=$build/velumo_fuzz_$target
corpus=$root/tests/fuzz/corpus/$target
LIMITS=(-rss_limit_mb=2048 -timeout=10)

case $action in
  replay)
    log=$build/replay-$target.log
    if "$program" "${LIMITS[@]}" "$corpus"/* >"$log" 2>&1; then
      echo "fuzz $target: replayed $(grep -c '^Executed ' "$log") inputs of tests/fuzz/corpus/$target"
    else
      tail -n 40 "$log"
      echo "fuzz $target: a corpus input fails (log: $log)"
      exit 1
    fi
    ;;
  run)
    seconds=${1:?$usage}
    work=${2:?$usage}
    shift 2
    log=$build/fuzz-$target.log
    mkdir -p "$work/$target" "$build/artifacts"
    if "$program" "${LIMITS[@]}" "$@" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$target-" "$work/$target" "$corpus" >"$log" 2>&1; then
      runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
      rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
      edges=$(grep -o 'cov: [0-9]*' "$log" | tail -n 1 | cut -d' ' -f2)
      echo "fuzz $target: $runs executions in $seconds s, $rate per second, $edges edges covered, no failure"
    else
      tail -n 60 "$log"
      echo "fuzz $target: FAILED; input saved in $build/artifacts/ (log: $log)"
      exit 1
    fi
    ;;
  *)
    echo "$usage"
    exit 2
    ;;
esac
