#!/usr/bin/env bash
# Times stdweights and cenweights on generated input.
# Usage: bench/loadcalc_run.sh <bin dir> [samples] [sites] [K]
set -eu
bin=$(cd "$1" && pwd)
n=${2:-200} sites=${3:-200000} K=${4:-10}
work=$(mktemp -d)
[ -n "${KEEP_BENCH_DIR:-}" ] && echo "inputs kept in $work" || trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p meth/chr1 des res/loadings
awk -v n=$n -v sites=$sites -v K=$K 'BEGIN {
  srand(3)
  for (i = 0; i < n; i++) {
    f = sprintf("meth/chr1/S%04d.csv", i)
    print "coord,value" > f
    for (s = 0; s < sites; s++) printf "%d,%.4f\n", 10 * s + 1, rand() > f
    close(f)
  }
  print "coord,mean,SD" > "des/des_chr1.csv"
  for (s = 0; s < sites; s++) printf "%d,0.5,0.288\n", 10 * s + 1 > "des/des_chr1.csv"
  print "\"\",\"PC\"" > "res/b_eigenvec.csv"
  for (i = 0; i < n; i++) {
    line = sprintf("\"S%04d\"", i)
    for (k = 0; k < K; k++) line = line sprintf(",%.15g", rand() - 0.5)
    print line > "res/b_eigenvec.csv"
  }
  print "x" > "res/b_eigenval.csv"
  for (k = 0; k < K; k++) print 100 / (k + 1) > "res/b_eigenval.csv"
}'
echo "samples $n, sites $sites, K $K"
for prog in stdweights cenweights; do
  /usr/bin/time -f "$prog: %e s elapsed, %U s user, %M KiB max resident" \
    "$bin/$prog" meth/ des/ res/ b $K 1 > /dev/null
done
