#!/usr/bin/env bash
# grameigen's outlying samples on data with planted outliers: centred random
# data of 80 samples, the inner-product matrix written as three blocks.
# - iterative: sample 17 far out along one site, sample 42 less far along the
#   same site: 42 shows only once 17 no longer widens the SD (round 2);
# - a later component: two group structures make PC1 and PC2, the outlier
#   (sample 42) makes PC3: found with the 10 leading components, not with 2;
# - none planted: an empty table, and no other output changed by the search.
# Each outliers file is checked against a model of the rounds computed here
# from the eigen files, and against the planted samples; the plot must ring
# exactly the outliers (and render, when rsvg-convert is installed).
set -u
bin=$(cd "$1" && pwd)
[ -x "$bin/grameigen" ] || { echo "skip: grameigen is not built yet"; exit 77; }
command -v python3 > /dev/null || { echo "skip: no python3"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
fail() { echo "FAIL $*"; fails=$((fails + 1)); }

# gen <folder> <seed> <plant>...: samples.txt and the blocks in <folder>/.
# A plant is i:f:x (sample i, 0-based, gets x added at site f) or gM:f:x
# (every sample whose index is a multiple of M gets x at site f).
gen() {
  python3 - "$@" <<'PY'
import os, random, sys
out, seed, specs = sys.argv[1], int(sys.argv[2]), sys.argv[3:]
n, p = 80, 30
random.seed(seed)
z = [[random.gauss(0, 1) for _ in range(p)] for _ in range(n)]
for s in specs:
    a, f, x = s.split(':')
    rows = range(0, n, int(a[1:])) if a[0] == 'g' else [int(a)]
    for i in rows:
        z[i][int(f)] += float(x)
for j in range(p):
    m = sum(z[i][j] for i in range(n)) / n
    for i in range(n):
        z[i][j] -= m
g = [[sum(z[i][k] * z[j][k] for k in range(p)) for j in range(n)] for i in range(n)]
os.makedirs(out)
def block(name, r0, r1, c0, c1):
    with open(os.path.join(out, name), 'w') as o:
        for i in range(r0 - 1, r1):
            o.write(','.join('%.15e' % g[i][j] for j in range(c0 - 1, c1)) + '\n')
block('diag_1.40_.csv', 1, 40, 1, 40)
block('diag_41.80_.csv', 41, 80, 41, 80)
block('rect_41.80_1.40_.csv', 41, 80, 1, 40)
open('samples.txt', 'w').write(''.join('S%02d\n' % (i + 1) for i in range(n)))
PY
}

# check <results prefix+label> <sd> <components> <expected rows>: the outliers
# file against the model of the rounds; the expected rows (name:PC:round,
# space-separated, "" for none) against the planted samples.
check() {
  python3 - "$@" <<'PY'
import math, sys
base, limit, want_k, expected = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), sys.argv[4].split()
vals = [float(l) for l in open(base + '_eigenval.csv').read().split('\n')[1:] if l]
rows = [l.split(',') for l in open(base + '_eigenvec.csv').read().split('\n')[1:] if l]
names = [r[0].strip('"') for r in rows]
vec = [[float(x) for x in r[1:]] for r in rows]
n = len(names)
k = 0
while k < min(want_k, n) and vals[k] > 0 and vals[k] > n * 2.220446049250313e-16 * vals[0]:
    k += 1
flagged, model, rnd, first_round_dev = set(), [], 1, {}
while n - len(flagged) >= 2:
    keep = [i for i in range(n) if i not in flagged]
    best = {}
    for c in range(k):
        xs = [vec[i][c] for i in keep]
        mean = sum(xs) / len(xs)
        sd = math.sqrt(sum((x - mean) ** 2 for x in xs) / (len(xs) - 1))
        if sd <= 0:
            continue
        for i in keep:
            d = (vec[i][c] - mean) / sd
            if rnd == 1:
                first_round_dev[(i, c)] = d
            if abs(d) > limit and (i not in best or abs(d) > abs(best[i][1])):
                best[i] = (c, d)
    if not best:
        break
    for i in sorted(best):
        model.append((names[i], best[i][0] + 1, best[i][1], rnd))
    flagged |= set(best)
    rnd += 1
lines = open(base + '_outliers.csv').read().split('\n')
bad = []
if lines[0] != 'sample,component,deviation,round' or lines[-1] != '':
    bad.append('header or final line feed')
got = [l.split(',') for l in lines[1:-1]]
if len(got) != len(model):
    bad.append('%d rows, the model has %d' % (len(got), len(model)))
for g, m in zip(got, model):
    if g[0] != '"%s"' % m[0] or int(g[1]) != m[1] or int(g[3]) != m[3] or abs(float(g[2]) - m[2]) > 1e-9 * abs(m[2]):
        bad.append('row %s, the model says %s' % (','.join(g), m))
plain = ['%s:PC%d:%d' % (m[0], m[1], m[3]) for m in model]
if plain != expected:
    bad.append('found %s, planted %s' % (' '.join(plain) or 'none', ' '.join(expected) or 'none'))
# An outlier of round 2 or later must have been within the limit in round 1.
for m in model:
    if m[3] > 1 and abs(first_round_dev[(names.index(m[0]), m[1] - 1)]) > limit:
        bad.append('%s was beyond the limit in round 1 already' % m[0])
print('; '.join(bad) if bad else 'ok %d outlier(s)' % len(model))
sys.exit(1 if bad else 0)
PY
}

# run_case <label> <folder> <expected rows> [options]: runs grameigen on <folder>
# and checks the outliers file, the standard output and the plot.
run_case() {
  local label=$1 dir=$2 expected=$3
  shift 3
  local sd=6 k=10 a
  for a in $(seq 1 $#); do
    case ${!a} in
      --outlier-sd) b=$((a + 1)); sd=${!b} ;;
      --outlier-pcs) b=$((a + 1)); k=${!b} ;;
    esac
  done
  rm -rf "r_$label" && mkdir "r_$label"
  if ! "$bin/grameigen" samples.txt "r_$label/" x cen "$dir/" "$@" > "out_$label" 2>&1; then
    fail "$label: $(tail -1 "out_$label")"; return
  fi
  local res
  res=$(check "r_$label/x" "$sd" "$k" "$expected") || { fail "$label: $res"; return; }
  local count rings listed
  count=$(($(wc -l < "r_$label/x_outliers.csv") - 1))
  rings=$(grep -c 'r="8" fill="none" stroke="#c00000"' "r_$label/x_pca.svg")
  listed=$(grep -c '^  round ' "out_$label")
  [ "$rings" = "$count" ] || { fail "$label: $rings rings in the plot for $count outliers"; return; }
  [ "$listed" = "$count" ] || { fail "$label: $listed outliers on standard output for $count"; return; }
  if [ "$count" = 0 ] && grep -q -e '^outliers' -e 'ringed' "out_$label" "r_$label/x_pca.svg"; then
    fail "$label: an outlier note without outliers"; return
  fi
  if command -v rsvg-convert > /dev/null && ! rsvg-convert "r_$label/x_pca.svg" -o "r_$label/x_pca.png"; then
    fail "$label: the plot does not render"; return
  fi
  echo "ok   $label: $res"
}

gen iter 7 16:0:40 41:0:14
gen later 7 g2:2:6 g3:3:6 41:0:16
gen none 7

run_case iterative iter "S17:PC1:1 S42:PC1:2"
run_case later later "S42:PC3:1"
run_case later_two later "" --outlier-pcs 2
run_case later_three later "S42:PC3:1" --outlier-pcs 3 --outlier-sd 6
run_case none none ""
run_case search_off iter "" --outlier-pcs 0

# Nothing is removed from the analysis: with and without the search, the
# eigen files are the same, and where none is found so is the plot.
for f in x_eigenval.csv x_eigenvec.csv; do
  cmp -s r_iterative/$f r_search_off/$f || fail "the search changed $f"
done
rm -rf r_none_off && mkdir r_none_off && "$bin/grameigen" samples.txt r_none_off/ x cen none/ --outlier-pcs 0 > /dev/null
for f in x_eigenval.csv x_eigenvec.csv x_pca.svg x_outliers.csv; do
  cmp -s r_none/$f r_none_off/$f || fail "without outliers, $f depends on the search"
done
# The options may stand anywhere after the program name.
rm -rf r_front && mkdir r_front && "$bin/grameigen" --outlier-sd 6 samples.txt r_front/ x --outlier-pcs 10 cen iter/ > /dev/null
for f in x_eigenval.csv x_eigenvec.csv x_pca.svg x_outliers.csv; do
  cmp -s r_iterative/$f r_front/$f || fail "options before the arguments: $f differs"
done

# A lower limit: the model decides, over as many rounds as it takes.
rm -rf r_sd3 && mkdir r_sd3 && "$bin/grameigen" samples.txt r_sd3/ x cen iter/ --outlier-sd 3.5 > out_sd3
rows=$(tail -n +2 r_sd3/x_outliers.csv | awk -F, '{gsub(/"/, "", $1); printf "%s%s:PC%d:%d", (NR > 1 ? " " : ""), $1, $2, $4}')
res=$(check r_sd3/x 3.5 10 "$rows") && [ "$(tail -1 r_sd3/x_outliers.csv | cut -d, -f4)" -ge 2 ] &&
  echo "ok   limit 3.5: $res in $(tail -1 r_sd3/x_outliers.csv | cut -d, -f4) rounds" || fail "limit 3.5: $res"

# Option values refused, naming the option; nothing written.
for bad in "--outlier-sd 0" "--outlier-sd -1" "--outlier-sd nan" "--outlier-sd inf" "--outlier-sd 6x" \
  "--outlier-sd ''" "--outlier-pcs -1" "--outlier-pcs 1.5" "--outlier-pcs ten" "--outlier-pcs" \
  "--outlier-sd 6 --outlier-sd 5" "--outlier-count 3"; do
  rm -rf r_bad && mkdir r_bad
  eval "\"$bin/grameigen\" samples.txt r_bad/ x cen iter/ $bad" > out_bad 2>&1
  status=$?
  opt=${bad%% *}
  if [ $status != 255 ] || [ -n "$(ls -A r_bad)" ] || ! grep -q -- "$opt" out_bad; then
    fail "option $bad: status $status, $(tail -1 out_bad | head -c 120)"
  else
    echo "ok   refused $bad: $(head -1 out_bad)"
  fi
done

[ $fails = 0 ] || { echo "$fails case(s) failed"; exit 1; }
echo "all cases passed"
