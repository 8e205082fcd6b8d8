#!/usr/bin/env bash
# Scale check of methprep: generates coverage files (default 50 samples, each
# covering a random 90% of 1,000,000 CpGs over 3 chromosomes), converts them,
# and reports the time and the peak memory of the conversion. Then the road
# runs on methprep's output (descriptives, selfgram, grameigen, stdweights)
# and every program must see exactly the sites methprep kept.
#
#   bench/methprep_scale.sh [BIN_DIR] [--samples N] [--sites N] [--gzip] [--keep]
set -euo pipefail
bin=build/bin
if [ $# -gt 0 ] && [ "${1#--}" = "$1" ]; then bin=$1; shift; fi
samples=50 sites=1000000 gz=() keep=0
while [ $# -gt 0 ]; do
  case $1 in
    --samples) samples=$2; shift 2 ;;
    --sites) sites=$2; shift 2 ;;
    --gzip) gz=(--gzip); shift ;;
    --keep) keep=1; shift ;;
    *) echo "unknown argument $1"; exit 2 ;;
  esac
done
for p in methprep covgen; do
  [ -x "$bin/$p" ] || { echo "missing $bin/$p (build first: scripts/build.sh)"; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/methprep_scale.XXXXXX")
[ $keep = 1 ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work/cov"

echo "== generating $samples samples x $sites CpGs (90% each) in $work/cov"
"$bin/covgen" "$work/cov" --samples "$samples" --sites "$sites" --chroms 3 --fraction 0.9 --seed 7 "${gz[@]}" > "$work/inputs.txt"
du -sh "$work/cov" | awk '{print "input size: " $1}'

# Peak resident memory: /usr/bin/time -v when present, else the high-water
# mark (VmHWM) sampled from /proc while the process runs.
run_measured() {
  local log=$1; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -v "$@" > "$log" 2> "$log.time"
    awk -F': ' '/Elapsed \(wall clock\)/{print "wall time: " $2} /Maximum resident set size/{printf "peak memory: %.1f MiB\n", $2/1024} /User time/{u=$2} /System time/{printf "processor time: %.1f s user, %.1f s system\n", u, $2}' "$log.time"
  else
    local start end peak=0 pid rss
    start=$(date +%s.%N)
    "$@" > "$log" 2> "$log.err" & pid=$!
    while kill -0 $pid 2>/dev/null; do
      rss=$(awk '/VmHWM/{print $2}' /proc/$pid/status 2>/dev/null || echo 0)
      [ "${rss:-0}" -gt "$peak" ] && peak=$rss
      sleep 0.05
    done
    wait $pid
    end=$(date +%s.%N)
    echo "wall time: $(echo "$end - $start" | bc) s"
    echo "peak memory: $((peak / 1024)) MiB (sampled)"
  fi
}

echo "== methprep"
mapfile -t inputs < "$work/inputs.txt"
run_measured "$work/methprep.out" "$bin/methprep" --format bismark --min-samples 0.8 --out "$work/out" "${inputs[@]}"
tail -n 3 "$work/methprep.out"
product=$((samples * sites * 8 / 1048576))
echo "samples x sites x 8 bytes: $product MiB"

road=(descriptives selfgram grameigen stdweights)
missing=""
for p in "${road[@]}"; do [ -x "$bin/$p" ] || missing="$missing $p"; done
if [ -n "$missing" ]; then
  echo "== not built in $bin:$missing; the road from methprep's output was not checked"
  exit 0
fi

# The road on methprep's output: descriptives per chromosome, one diagonal
# block of all samples over the three chromosomes, the eigen-decomposition of
# the correlation matrix and the loadings per chromosome. Each program must
# see exactly the sites methprep kept.
echo "== the road on methprep's output"
prep=$work/out
mkdir -p "$work/des" "$work/blocks" "$work/res/loadings"
t=$(date +%s.%N)
for c in 1 2 3; do
  "$bin/descriptives" "$prep/meth/" "$prep/samples.txt" "$work/des/" "$c" > "$work/des$c.log"
  rows=$(($(wc -l < "$work/des/des_chr$c.csv") - 1))
  kept=$(awk -F'\t' -v c=$c '$1 == c {print $4}' "$prep/manifest.tsv")
  [ "$rows" = "$kept" ] || { echo "descriptives wrote $rows sites for chromosome $c, methprep kept $kept"; exit 1; }
  # The coordinates are methprep's positions, in order.
  cmp -s <(cut -d, -f1 "$work/des/des_chr$c.csv" | tail -n +2) <(cut -d, -f1 "$prep/meth/chr$c/$(head -1 "$prep/samples.txt").csv" | tail -n +2) \
    || { echo "descriptives' coordinates differ from methprep's positions on chromosome $c"; exit 1; }
  echo "descriptives chromosome $c: $rows sites"
done
"$bin/selfgram" "$prep/meth/" "$prep/samples.txt" "$work/des/" "$work/blocks/" 1 3 1 "$samples" > "$work/selfgram.log"
"$bin/grameigen" "$prep/samples.txt" "$work/res/" scale std "$work/blocks/" > "$work/grameigen.log"
echo "grameigen: $(grep -m1 -E '^  PC1 ' "$work/grameigen.log" || echo done)"
for c in 1 2 3; do
  "$bin/stdweights" "$prep/meth/" "$work/des/" "$work/res/" scale 5 "$c" > "$work/stdweights$c.log"
  f=$work/res/loadings/scale_loadings_chr$c.csv
  rows=$(($(wc -l < "$f") - 1))
  kept=$(awk -F'\t' -v c=$c '$1 == c {print $4}' "$prep/manifest.tsv")
  [ "$rows" = "$kept" ] || { echo "stdweights wrote $rows loadings for chromosome $c, methprep kept $kept"; exit 1; }
  echo "stdweights chromosome $c: $rows loadings"
done
awk -v a="$t" -v b="$(date +%s.%N)" 'BEGIN { printf "road: %.1f s\n", b - a }'
