#!/usr/bin/env bash
# Peak resident memory (/usr/bin/time -f %M) of stdweights, cenweights and
# weights on generated data at two site counts, to show it does not grow with
# the sites. Usage: bench/loadcalc_memory.sh <bin dir> [samples=40] [sites=1500000] [K=10]
# (the smaller run has a tenth of the sites).
set -eu
bin=$(cd "$1" && pwd)
n=${2:-40} sites=${3:-1500000} K=${4:-10}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
for S in $((sites / 10)) $sites; do
  d=d$S
  "$bin/methgen" --out $d --samples $n --chroms 1 --sites $S --seed 4 > /dev/null
  mkdir -p $d/des $d/std/loadings $d/cen/loadings
  "$bin/descriptives" $d/meth/ $d/samples.txt $d/des/ 1 > /dev/null
  for a in std cen; do
    awk -v K=$K 'BEGIN { print "x"; for (k = 0; k < K; k++) print 100 / (k + 1) }' > $d/$a/r_eigenval.csv
    awk -v K=$K 'BEGIN { srand(3); printf "\"\""; for (k = 1; k <= K; k++) printf ",\"PC%d\"", k; print "" }
      { printf "\"%s\"", $0; for (k = 0; k < K; k++) printf ",%.6f", rand() - 0.5; print "" }' \
      $d/samples.txt > $d/$a/r_eigenvec.csv
  done
  for run in "stdweights $d/meth/ $d/des/ $d/std/ r $K 1" "cenweights $d/meth/ $d/des/ $d/cen/ r $K 1" \
             "weights $d/meth/ $d/des/ $K 1 $d/std/ r $d/cen/ r"; do
    /usr/bin/time -f "samples $n sites $S ${run%% *}: %M KB peak, %U s user" "$bin/${run%% *}" ${run#* } > /dev/null
  done
  rm -rf $d
done
