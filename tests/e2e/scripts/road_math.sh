#!/usr/bin/env bash
# The whole road on a small generated dataset, its mathematics checked
# against the raw data by roadcheck: eigenvalues of Z Z^T/(n-1) and loadings
# that are unit, orthogonal eigenvectors of the sites' correlation (covariance)
# matrix. Standardized blocks are computed per chromosome (two block prefixes
# that grameigen adds up), centred blocks over both chromosomes at once.
# Usage: bash road_math.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
for p in methgen descriptives selfgram crossgram stdweights cenweights grameigen roadcheck; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built yet"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

run() {
  if ! "$@" > log 2>&1; then
    echo "failed: $*"; tail -5 log; exit 1
  fi
}

K=5
run "$bin/methgen" --out data --samples 12 --chroms 2 --sites 400 --groups 3 --seed 11
mkdir -p des blocks/c1 blocks/c2 blocks/all std/loadings cen/loadings
for c in 1 2; do run "$bin/descriptives" data/meth/ data/samples.txt des/ $c; done
# Sample blocks 1-4, 5-8, 9-12; rectangular blocks in both orientations.
for run_ in "1 1 blocks/c1/" "2 2 blocks/c2/" "1 2 blocks/all/"; do
  set -- $run_
  for b in "1 4" "5 8" "9 12"; do
    run "$bin/selfgram" data/meth/ data/samples.txt des/ "$3" "$1" "$2" $b
  done
  run "$bin/crossgram" data/meth/ data/samples.txt des/ "$3" "$1" "$2" 1 4 5 8
  run "$bin/crossgram" data/meth/ data/samples.txt des/ "$3" "$1" "$2" 9 12 1 4
  run "$bin/crossgram" data/meth/ data/samples.txt des/ "$3" "$1" "$2" 5 8 9 12
done
run "$bin/grameigen" data/samples.txt std/ road std blocks/c1/ blocks/c2/
run "$bin/grameigen" data/samples.txt cen/ road cen blocks/all/
for c in 1 2; do
  run "$bin/stdweights" data/meth/ des/ std/ road $K $c
  run "$bin/cenweights" data/meth/ des/ cen/ road $K $c
done
status=0
"$bin/roadcheck" std data/meth/ data/samples.txt 1 2 std/ road $K || status=1
"$bin/roadcheck" cen data/meth/ data/samples.txt 1 2 cen/ road $K || status=1
exit $status
