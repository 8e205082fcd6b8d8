#!/usr/bin/env bash
# The whole road run twice on a small generated dataset, once with the
# programs (fast paths) and once with their <program>_plain twins (getline,
# strtod, printf, plain accumulation loops); every file written, and standard
# output less the processor-time lines, must be byte-identical. A few values
# are rewritten in other spellings (exponent, trailing carriage return, a
# third field) so the general parsing path is compared too.
# Usage: bash plain_vs_fast.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
progs="descriptives selfgram crossgram fullgram grameigen stdweights cenweights"
[ -x "$bin/methgen" ] || { echo "skip: methgen is not built"; exit 77; }
for p in $progs; do
  [ -x "$bin/$p" ] && [ -x "$bin/${p}_plain" ] || { echo "skip: $p or ${p}_plain is not built"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

"$bin/methgen" --out data --samples 23 --chroms 2 --sites 3000 --groups 2 --seed 5 --constant 0.02 > /dev/null ||
  { echo "methgen failed"; exit 1; }
# Other spellings of the same kind of value in two samples' files.
for s in $(sed -n '2p;5p' data/samples.txt); do
  f=data/meth/chr1/$s.csv
  awk -F, 'NR == 1 { print; next }
    NR % 7 == 0 { printf "%s,%.6e\n", $1, $2; next }
    NR % 11 == 0 { printf "%s,%s\r\n", $1, $2; next }
    NR % 13 == 0 { printf "%s,%s,x\n", $1, $2; next }
    NR % 17 == 0 { printf "%s, %s0000000000000000001\n", $1, $2; next }
    { print }' "$f" > tmp && mv tmp "$f"
done

K=4
road() {  # road <suffix> <folder>
  local x=$1 o=$2
  mkdir -p "$o/des" "$o/blocks" "$o/std/loadings" "$o/cen/loadings" "$o/log"
  set -e
  for c in 1 2; do "$bin/descriptives$x" data/meth/ data/samples.txt "$o/des/" $c > "$o/log/des$c"; done
  "$bin/selfgram$x" data/meth/ data/samples.txt "$o/des/" "$o/blocks/" 1 2 1 9 > "$o/log/self1"
  "$bin/selfgram$x" data/meth/ data/samples.txt "$o/des/" "$o/blocks/" 1 2 10 23 > "$o/log/self2"
  "$bin/crossgram$x" data/meth/ data/samples.txt "$o/des/" "$o/blocks/" 1 2 1 9 10 23 > "$o/log/cross"
  for a in std cen; do
    "$bin/grameigen$x" data/samples.txt "$o/$a/" road $a "$o/blocks/" > "$o/log/eigen_$a"
  done
  for c in 1 2; do
    "$bin/stdweights$x" data/meth/ "$o/des/" "$o/std/" road $K $c > "$o/log/std$c"
    "$bin/cenweights$x" data/meth/ "$o/des/" "$o/cen/" road $K $c > "$o/log/cen$c"
  done
  # The one-reading road: the same descriptives, and the whole matrix in one
  # block whose eigen files equal those of the three blocks.
  mkdir -p "$o/one/des" "$o/one/blocks" "$o/one/std" "$o/one/cen"
  "$bin/fullgram$x" data/meth/ data/samples.txt "$o/one/des/" "$o/one/blocks/" 1 2 > "$o/log/full"
  for a in std cen; do
    "$bin/grameigen$x" data/samples.txt "$o/one/$a/" road $a "$o/one/blocks/" > "$o/log/one_eigen_$a"
  done
  set +e
  # Processor times differ from run to run.
  for f in "$o"/log/*; do grep -v '^Seconds used since' "$f" | sed "s|$o/||g" > "$f.cmp"; rm "$f"; done
}
( road "" fast ) || { echo "the fast road failed"; exit 1; }
( road _plain plain ) || { echo "the plain road failed"; exit 1; }

n=$(cd fast && find . -type f | wc -l)
[ "$n" -ge 25 ] || { echo "only $n files written"; exit 1; }
if ! diff -r fast plain > diffs; then
  echo "fast and plain outputs differ:"; head -20 diffs; exit 1
fi
# The rewritten spellings reached the results: zero-SD sites and values exist.
grep -q 'Standardard deviation of site' fast/log/self1.cmp || { echo "no constant site was exercised"; exit 1; }
for x in fast plain; do
  for c in 1 2; do cmp -s $x/des/des_chr$c.csv $x/one/des/des_chr$c.csv || { echo "$x: fullgram's des_chr$c.csv differs from descriptives'"; exit 1; }; done
  for a in std cen; do
    for f in eigenval eigenvec; do
      cmp -s $x/$a/road_$f.csv $x/one/$a/road_$f.csv || { echo "$x: $a $f of the whole-matrix block differs from the three blocks'"; exit 1; }
    done
  done
done
echo "fast and plain roads agree on $n files; the one-reading road gives the same descriptives and eigen files"
