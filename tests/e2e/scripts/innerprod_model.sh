#!/usr/bin/env bash
# selfgram and crossgram against the plain site-by-site model
# (innerprod_model.py) on random data: three chromosomes (one without sites),
# constant and not-a-number SDs, files with and without a final line feed.
# The block files must agree byte for byte, and so must the zero-SD lines.
set -euo pipefail
bin=$1 src=$2
command -v python3 >/dev/null || exit 77
model=$src/tests/e2e/scripts/innerprod_model.py
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
python3 - <<'PY'
import os, random
random.seed(20240611)
names = ['s%d' % i for i in range(1, 10)]
open('samples.txt', 'w').write('\n'.join(names) + '\n')
os.makedirs('des'); os.makedirs('out')
for chrom, n in ((1, 150), (2, 0), (3, 70)):
    os.makedirs('data/chr%d' % chrom)
    des = ['coord,mean,sd']
    for k in range(n):
        sd = random.choice(['%.6f' % random.uniform(0.01, 0.4)] * 6 + ['0', '1e-10', 'nan', '3e-11'])
        des.append('%d,%.6f,%s' % (k * 7, random.uniform(0.2, 0.8), sd))
    open('des/des_chr%d.csv' % chrom, 'w').write('\n'.join(des) + '\n')
    for i, s in enumerate(names):
        lines = ['coord,value'] + ['%d,%.4f' % (k * 7, random.random()) for k in range(n)]
        end = '' if i % 3 == 0 else '\n'
        open('data/chr%d/%s.csv' % (chrom, s), 'w').write('\n'.join(lines) + end)
PY
fail=0
check() {  # check <program> <args...>
  rm -rf run model; mkdir run model
  cp -a data des samples.txt out run/; cp -a data des samples.txt out model/
  (cd run && "$bin/$1" "${@:2}") > run.stdout
  python3 "$model" model "$@" > model.zero
  grep '^ Standardard' run.stdout > run.zero || true
  cmp -s run.zero model.zero || { echo "$*: zero-SD lines differ"; fail=1; }
  for f in model/out/*; do
    cmp "$f" "run/out/$(basename "$f")" || { echo "$*: $(basename "$f") differs"; fail=1; }
  done
}
check selfgram data/ samples.txt des/ out/ 1 3 2 8
check selfgram data/ samples.txt des/ out/ 3 3 5 5
check crossgram data/ samples.txt des/ out/ 1 3 1 3 4 9
check crossgram data/ samples.txt des/ out/ 2 3 6 9 2 2
exit $fail
