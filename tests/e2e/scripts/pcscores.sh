#!/usr/bin/env bash
# pcscores on a generated dataset run through the whole road:
# - on the training samples its scores are their eigenvector entries (to
#   rounding), for std and cen analyses;
# - on samples held out of the analysis (and on the training ones) it agrees
#   byte for byte with pcscores_model.py, a site-by-site computation from the
#   raw files; some values are respelled (exponent, carriage return, a third
#   field) so the general parsing path is taken too;
# - pcscores_plain writes the same bytes, and so does a run whose files must
#   be reopened in turn (low open-file limit).
# Enough sites that a chromosome spans more than one chunk.
# Usage: bash pcscores.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
for p in methgen descriptives selfgram crossgram stdweights cenweights grameigen pcscores; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built yet"; exit 77; }
done
command -v python3 > /dev/null || { echo "skip: no python3"; exit 77; }
model=$src/tests/e2e/scripts/pcscores_model.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

run() {
  if ! "$@" > log 2>&1; then
    echo "failed: $*"; tail -5 log; exit 1
  fi
}

K=4
run "$bin/methgen" --out data --samples 16 --chroms 2 --sites 24000 --groups 3 --seed 7 --constant 0.05
# Training: the first 12 samples; held out: the last 4.
head -12 data/samples.txt > train.txt
tail -4 data/samples.txt > held.txt
s=$(sed -n 14p data/samples.txt)
awk -F, 'NR == 1 { print; next }
  NR % 7 == 0 { printf "%s,%.6e\n", $1, $2; next }
  NR % 11 == 0 { printf "%s,%s\r\n", $1, $2; next }
  NR % 13 == 0 { printf "%s,%s,x\n", $1, $2; next }
  { print }' data/meth/chr2/$s.csv > tmp && mv tmp data/meth/chr2/$s.csv

mkdir -p des blocks std/loadings cen/loadings
for c in 1 2; do run "$bin/descriptives" data/meth/ train.txt des/ $c; done
run "$bin/selfgram" data/meth/ train.txt des/ blocks/ 1 2 1 5
run "$bin/selfgram" data/meth/ train.txt des/ blocks/ 1 2 6 12
run "$bin/crossgram" data/meth/ train.txt des/ blocks/ 1 2 1 5 6 12
for a in std cen; do run "$bin/grameigen" train.txt $a/ road $a blocks/; done
for c in 1 2; do
  run "$bin/stdweights" data/meth/ des/ std/ road $K $c
  run "$bin/cenweights" data/meth/ des/ cen/ road $K $c
done

status=0
for a in std cen; do
  run "$bin/pcscores" data/meth/ train.txt des/ $a/ road $a $K 1 2 train_$a.csv
  grep -q '^ chromosome 2: 24000 sites $' log || { echo "$a: site count not reported"; status=1; }
  # Training identity: |score - eigenvector entry| below 1e-9 for every cell.
  if ! awk -F, -v K=$K 'NR == FNR { if (FNR > 1) for (k = 2; k <= K + 1; k++) v[FNR, k] = $k; name[FNR] = $1; next }
      { if ($1 != name[FNR] || NF != K + 1) { print "row " FNR " differs: " $0; bad = 1 }
        if (FNR > 1) for (k = 2; k <= K + 1; k++) { d = $k - v[FNR, k]; if (d < 0) d = -d
          if (d > 1e-9) { print "row " FNR " PC" k - 1 ": " $k " vs " v[FNR, k]; bad = 1 } } }
      END { if (FNR != 13) { print FNR " rows"; bad = 1 }; exit bad }' $a/road_eigenvec.csv train_$a.csv; then
    echo "$a: training scores are not the eigenvectors"; status=1
  fi
  for set in train held; do
    run "$bin/pcscores" data/meth/ $set.txt des/ $a/ road $a $K 1 2 got_${set}_$a.csv
    python3 "$model" data/meth/ $set.txt des/ $a/ road $a $K 1 2 model_${set}_$a.csv ||
      { echo "model failed"; exit 1; }
    cmp got_${set}_$a.csv model_${set}_$a.csv || { echo "$a $set: pcscores and the model differ"; status=1; }
    if [ -x "$bin/pcscores_plain" ]; then
      run "$bin/pcscores_plain" data/meth/ $set.txt des/ $a/ road $a $K 1 2 plain_${set}_$a.csv
      cmp got_${set}_$a.csv plain_${set}_$a.csv || { echo "$a $set: pcscores_plain differs"; status=1; }
    fi
  done
done
# All 16 samples with room for few open files: the in-step reader reopens
# files where they stopped, and the rows are those of the two runs above.
cat train.txt held.txt > all.txt
( ulimit -n 20 && exec "$bin/pcscores" data/meth/ all.txt des/ std/ road std $K 1 2 all_std.csv ) > log 2>&1 ||
  { echo "pcscores under a low open-file limit failed"; tail -3 log; status=1; }
cat got_train_std.csv <(tail -n +2 got_held_std.csv) | cmp - all_std.csv ||
  { echo "scores under a low open-file limit differ"; status=1; }
[ $status = 0 ] && echo "pcscores: training identity, model and plain twin agree"
exit $status
