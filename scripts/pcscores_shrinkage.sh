#!/usr/bin/env bash
# Shrinkage of projected samples: a generated dataset is analysed on its
# first T samples (the whole road), and pcscores projects the others (held
# out) onto that analysis. For each number of sites per chromosome it prints
# the ratio of the held-out scores' standard deviation to the training
# scores', per component, as a Markdown table row; for the last site count it
# writes an SVG scatter of PC1 against PC2 (training and held-out samples).
# Usage: bash scripts/pcscores_shrinkage.sh <bin dir> <svg out> [samples=60] [train=40] [sites...=500 5000 50000]
set -eu
bin=$(cd "$1" && pwd)
svg=$(realpath -m "$2")
N=${3:-60} T=${4:-40}
shift $(( $# < 4 ? $# : 4 ))
sites_list=${*:-500 5000 50000}
K=4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
q() { "$@" > log 2>&1 || { echo "failed: $*"; tail -3 log; exit 1; }; }

echo "| sites | sites / training samples | PC1 | PC2 | PC3 | PC4 |"
echo "|---|---|---|---|---|---|"
for S in $sites_list; do
  rm -rf d des blocks std
  q "$bin/methgen" --out d --samples "$N" --chroms 2 --sites "$S" --groups 3 --seed 21
  head -n "$T" d/samples.txt > train.txt
  tail -n +"$((T + 1))" d/samples.txt > held.txt
  mkdir -p des blocks std/loadings
  for c in 1 2; do q "$bin/descriptives" d/meth/ train.txt des/ $c; done
  q "$bin/selfgram" d/meth/ train.txt des/ blocks/ 1 2 1 "$T"
  q "$bin/grameigen" train.txt std/ run std blocks/
  for c in 1 2; do q "$bin/stdweights" d/meth/ des/ std/ run $K $c; done
  q "$bin/pcscores" d/meth/ train.txt des/ std/ run std $K 1 2 train.csv
  q "$bin/pcscores" d/meth/ held.txt des/ std/ run std $K 1 2 held.csv
  python3 - "$S" "$T" "$svg" d/groups.tsv <<'PY'
import math, sys
S, T, svg, groups = int(sys.argv[1]) * 2, int(sys.argv[2]), sys.argv[3], sys.argv[4]
def load(p):
    rows = [l.rstrip('\n').split(',') for l in open(p)][1:]
    return [r[0].strip('"') for r in rows], [[float(x) for x in r[1:]] for r in rows]
def sd(v):
    m = sum(v) / len(v)
    return math.sqrt(sum((x - m) ** 2 for x in v) / (len(v) - 1))
tn, tr = load('train.csv'); hn, he = load('held.csv')
ratios = [sd([r[k] for r in he]) / sd([r[k] for r in tr]) for k in range(4)]
print('| %d | %.0f | %s |' % (S, S / T, ' | '.join('%.3f' % r for r in ratios)))
grp = dict(l.split() for l in open(groups))
# Scatter of PC1 against PC2: training samples filled, held-out ones open.
W, H, pad = 420, 420, 40
pts = tr + he
lo = min(min(p[0], p[1]) for p in pts); hi = max(max(p[0], p[1]) for p in pts)
span = (hi - lo) * 1.1 or 1; lo -= (hi - lo) * 0.05
X = lambda v: pad + (v - lo) / span * (W - 2 * pad)
Y = lambda v: H - pad - (v - lo) / span * (H - 2 * pad)
col = {'1': '#1f77b4', '2': '#d62728', '3': '#2ca02c'}
out = ['<svg xmlns="http://www.w3.org/2000/svg" width="%d" height="%d" font-family="sans-serif" font-size="12">' % (W, H),
       '<rect width="100%" height="100%" fill="white"/>',
       '<rect x="%d" y="%d" width="%d" height="%d" fill="none" stroke="#888"/>' % (pad, pad, W - 2 * pad, H - 2 * pad),
       '<line x1="%.1f" y1="%d" x2="%.1f" y2="%d" stroke="#ddd"/>' % (X(0), pad, X(0), H - pad),
       '<line x1="%d" y1="%.1f" x2="%d" y2="%.1f" stroke="#ddd"/>' % (pad, Y(0), W - pad, Y(0)),
       '<text x="%d" y="%d" text-anchor="middle">PC1</text>' % (W / 2, H - 12),
       '<text x="14" y="%d" transform="rotate(-90 14 %d)" text-anchor="middle">PC2</text>' % (H / 2, H / 2),
       '<text x="%d" y="24" text-anchor="middle">%d sites, %d training (filled), %d held out (open)</text>' % (W / 2, S, T, len(he))]
for n, p in zip(tn, tr):
    out.append('<circle cx="%.1f" cy="%.1f" r="4" fill="%s"/>' % (X(p[0]), Y(p[1]), col.get(grp.get(n), 'black')))
for n, p in zip(hn, he):
    out.append('<circle cx="%.1f" cy="%.1f" r="4" fill="none" stroke-width="1.5" stroke="%s"/>' % (X(p[0]), Y(p[1]), col.get(grp.get(n), 'black')))
out.append('</svg>')
open(svg, 'w').write('\n'.join(out) + '\n')
PY
done
