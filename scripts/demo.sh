#!/usr/bin/env bash
# The whole road on a generated dataset: build, generate 90 samples in 3
# groups over 3 chromosomes, then descriptives, the inner-product blocks, the
# eigen-decomposition of the correlation and the covariance matrix, and the
# loadings of every site. Results land in demo/ (git-ignored).
# Usage: scripts/demo.sh [samples [sites per chromosome]]
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-90}
sites=${2:-30000}
chroms=3
K=5
bin=build/bin
out=demo
jobs=$(nproc 2>/dev/null || echo 2)

t0=$(date +%s.%N)
lap() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f s", b - a }'; }

echo "== building (scripts/build.sh)"
scripts/build.sh > /dev/null
for p in methgen descriptives selfgram crossgram grameigen stdweights cenweights; do
  [ -x "$bin/$p" ] || { echo "$bin/$p is missing: the build did not produce it"; exit 1; }
done

rm -rf "$out"
mkdir -p "$out/logs" "$out/des" "$out/blocks" "$out/std/loadings" "$out/cen/loadings"

# Runs the command lines on standard input, $jobs at a time, each with its
# own log; stops the demo when one fails.
parallel_steps() {
  if ! xargs -d '\n' -P "$jobs" -I{} bash -c '{}'; then
    echo "a step failed; its log is under $out/logs/"
    exit 1
  fi
}

echo "== generating $samples samples, $chroms chromosomes, $sites sites each"
t=$(date +%s.%N)
"$bin/methgen" --out "$out/data" --samples "$samples" --chroms "$chroms" --sites "$sites" --groups 3 --seed 1 \
  > "$out/logs/methgen.log"
echo "   $(lap "$t")"

echo "== descriptives per chromosome"
t=$(date +%s.%N)
for c in $(seq 1 $chroms); do
  echo "$bin/descriptives $out/data/meth/ $out/data/samples.txt $out/des/ $c > $out/logs/descriptives_chr$c.log"
done | parallel_steps
echo "   $(lap "$t")"

# Three sample blocks of about equal size.
b1=$((samples / 3)); b2=$((2 * samples / 3))
blocks=("1 $b1" "$((b1 + 1)) $b2" "$((b2 + 1)) $samples")
echo "== inner-product blocks: selfgram per block, crossgram per pair (samples ${blocks[0]/ /-}, ${blocks[1]/ /-}, ${blocks[2]/ /-})"
t=$(date +%s.%N)
{
  for i in 0 1 2; do
    echo "$bin/selfgram $out/data/meth/ $out/data/samples.txt $out/des/ $out/blocks/ 1 $chroms ${blocks[i]} > $out/logs/selfgram_$i.log"
  done
  for i in 0 1 2; do
    for j in 0 1 2; do
      [ "$i" -lt "$j" ] || continue
      echo "$bin/crossgram $out/data/meth/ $out/data/samples.txt $out/des/ $out/blocks/ 1 $chroms ${blocks[i]} ${blocks[j]} > $out/logs/crossgram_${i}_$j.log"
    done
  done
} | parallel_steps
echo "   $(lap "$t")"

echo "== grameigen: correlation (std) and covariance (cen)"
for kind in std cen; do
  "$bin/grameigen" "$out/data/samples.txt" "$out/$kind/" demo "$kind" "$out/blocks/" --groups "$out/data/groups.tsv" \
    > "$out/logs/grameigen_$kind.log"
  echo "-- $kind"
  sed -n '/^leading eigenvalues/,/^written/p' "$out/logs/grameigen_$kind.log" | grep -E '^  PC[1-5] ' || true
done

echo "== loadings: stdweights and cenweights per chromosome, K = $K"
t=$(date +%s.%N)
for c in $(seq 1 $chroms); do
  echo "$bin/stdweights $out/data/meth/ $out/des/ $out/std/ demo $K $c > $out/logs/stdweights_chr$c.log"
  echo "$bin/cenweights $out/data/meth/ $out/des/ $out/cen/ demo $K $c > $out/logs/cenweights_chr$c.log"
done | parallel_steps
echo "   $(lap "$t")"

for kind in std cen; do
  if command -v rsvg-convert > /dev/null; then
    rsvg-convert "$out/$kind/demo_pca.svg" -o "$out/$kind/demo_pca.png"
  fi
done

# How well PC1 and PC2 separate the generated groups: the share of each
# component's variance that lies between the group means (R^2 of a one-way
# layout), and how many samples sit nearest their own group's centre in the
# PC1/PC2 plane.
separation() {
  awk -F'\t' 'NR == FNR { group[$1] = $2; next }
    FNR == 1 { FS = ","; next }
    { name = $1; gsub(/"/, "", name); if (!(name in group)) next
      g = group[name]; n++; gn[g]++; member[n] = g
      for (k = 1; k <= 2; k++) { x[n, k] = $(k + 1); s[k] += x[n, k]; gs[g, k] += x[n, k] } }
    END {
      if (n == 0) { print "   no sample of the eigenvector file is in the groups file"; exit }
      for (k = 1; k <= 2; k++) {
        mean = s[k] / n; tot = 0; between = 0
        for (i = 1; i <= n; i++) tot += (x[i, k] - mean) ^ 2
        for (g in gn) between += gn[g] * (gs[g, k] / gn[g] - mean) ^ 2
        r2[k] = tot > 0 ? between / tot : 0
      }
      right = 0
      for (i = 1; i <= n; i++) {
        best = ""; bd = 0
        for (g in gn) {
          d = (x[i, 1] - gs[g, 1] / gn[g]) ^ 2 + (x[i, 2] - gs[g, 2] / gn[g]) ^ 2
          if (best == "" || d < bd) { best = g; bd = d }
        }
        if (best == member[i]) right++
      }
      printf "   groups explain %.1f%% of the PC1 variance and %.1f%% of the PC2 variance; %d of %d samples lie nearest their own group centre\n", 100 * r2[1], 100 * r2[2], right, n
    }' "$out/data/groups.tsv" "$1"
}

echo
echo "== results"
for kind in std cen; do
  what=$([ $kind = std ] && echo "correlation (standardized data)" || echo "covariance (centred data)")
  echo "$what:"
  echo "   eigen files:  $out/$kind/demo_eigenval.csv, $out/$kind/demo_eigenvec.csv"
  echo "   loadings:     $out/$kind/loadings/demo_loadings_chr1.csv .. chr$chroms.csv ($K components)"
  echo "   plot:         $out/$kind/demo_pca.svg$([ -f "$out/$kind/demo_pca.png" ] && echo " (and .png)")"
  separation "$out/$kind/demo_eigenvec.csv"
done
echo "logs: $out/logs/    total time: $(lap "$t0")"
