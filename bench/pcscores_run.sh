#!/usr/bin/env bash
# Times pcscores against stdweights on the same generated input (one
# chromosome): both read every sample's file and the descriptives; stdweights
# writes the loadings that pcscores then reads. Best of `runs` for each.
# Usage: bench/pcscores_run.sh <bin dir> [samples=200] [sites=200000] [K=10] [runs=3]
set -eu
bin=$(cd "$1" && pwd)
n=${2:-200} sites=${3:-200000} K=${4:-10} runs=${5:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
"$bin/methgen" --out d --samples "$n" --chroms 1 --sites "$sites" > /dev/null
mkdir -p des res/loadings
"$bin/descriptives" d/meth/ d/samples.txt des/ 1 > /dev/null
awk -v K=$K 'BEGIN { srand(3); print "\"\",\"PC\"" > "res/b_eigenvec.csv"; print "x" > "res/b_eigenval.csv"
  for (k = 0; k < K; k++) print 100 / (k + 1) > "res/b_eigenval.csv" }
  { line = "\"" $0 "\""; for (k = 0; k < K; k++) line = line sprintf(",%.15g", rand() - 0.5)
    print line > "res/b_eigenvec.csv" }' d/samples.txt
best() {  # best <label> <command...>: the least elapsed time of `runs`
  local label=$1 t b=
  shift
  for _ in $(seq "$runs"); do
    t=$( { /usr/bin/time -f "%e %M" "$@" > /dev/null; } 2>&1 | tail -1)
    if [ -z "$b" ] || awk -v a="${t% *}" -v c="${b% *}" 'BEGIN { exit !(a < c) }'; then b=$t; fi
  done
  echo "$label: ${b% *} s elapsed, ${b#* } KiB max resident"
}
echo "samples $n, sites $sites, K $K"
best stdweights "$bin/stdweights" d/meth/ des/ res/ b "$K" 1
best pcscores "$bin/pcscores" d/meth/ d/samples.txt des/ res/ b std "$K" 1 1 scores.csv
[ -x "$bin/pcscores_plain" ] && best pcscores_plain "$bin/pcscores_plain" d/meth/ d/samples.txt des/ res/ b std "$K" 1 1 scores.csv
exit 0
