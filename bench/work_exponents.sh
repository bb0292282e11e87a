#!/bin/sh
# How the region's own work grows with the pieces it makes, on the layouts
# whose times velumo_region_bench fits: instructions of its full work,
# counted by valgrind's callgrind, which neither the machine's load nor its
# caches change. Beside the fitted time exponents, this tells what the
# region does from what the memory it reads costs.
# Usage: bench/work_exponents.sh PATH/TO/velumo_region_bench
set -eu
bench=$1
log=$(mktemp)
trap 'rm -f "$log"' EXIT
echo "| layout | frames | pieces made | instructions per piece made | fitted exponent of the instructions (bound 1.2) |"
echo "|---|---|---|---|---|"
for layout in $("$bench" --layout); do
  for frames in $("$bench" --layout "$layout"); do
    made=$(valgrind --tool=callgrind --callgrind-out-file=/dev/null \
      --toggle-collect='bench::current::FullWork*' "$bench" --layout "$layout" "$frames" 2>"$log")
    instructions=$(sed -n 's/.*Collected : \([0-9]*\).*/\1/p' "$log")
    [ -n "$instructions" ] || { cat "$log" >&2; exit 1; }
    echo "$frames $made $instructions"
  done | awk -v layout="$layout" '
    { f[NR] = $1; m[NR] = $2; i[NR] = $3; x = log($2); y = log($3)
      sx += x; sy += y; sxx += x * x; sxy += x * y }
    END { n = NR; e = (n * sxy - sx * sy) / (n * sxx - sx * sx)
      printf "| %s | %d to %d | %d to %d | %.0f to %.0f | %.2f%s |\n", layout, f[1], f[n],
        m[1], m[n], i[1] / m[1], i[n] / m[n], e, (e > 1.2 ? " (over)" : "") }'
done
