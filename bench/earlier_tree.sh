#!/bin/sh
# Writes the masking/ folder of a git revision into a folder, for the region
# benchmark's column of an earlier tree (make bench BENCH_BEFORE=REV).
#   bench/earlier_tree.sh REV DIR
set -eu
revision=$1
folder=$2
rm -rf "$folder"
mkdir -p "$folder"
# -m: the files are dated now, not at the commit, so that objects built from
# another revision's files are never taken as up to date.
git archive "$revision" masking | tar -x -m -C "$folder"
echo "bench: the earlier region is that of $(git rev-parse --short "$revision") ($revision)"
