#!/usr/bin/env bash
# Scale check of methprep: generates coverage files (default 50 samples, each
# covering a random 90% of 1,000,000 CpGs over 3 chromosomes), converts them,
# and reports the time and the peak memory of the conversion. When
# `descriptives` is built, it then runs on methprep's output for every
# chromosome, so the road starts from what methprep wrote.
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

# Peak resident memory: /usr/bin/time -v when present, else the kernel's
# high-water mark of the process read just before it exits is not reachable
# from outside, so sample /proc while it runs.
run_measured() {
  local log=$1; shift
  if [ -x /usr/bin/time ]; then
    /usr/bin/time -v "$@" > "$log" 2> "$log.time"
    awk -F': ' '/Elapsed \(wall clock\)/{print "wall time: " $2} /Maximum resident set size/{printf "peak memory: %.1f MiB\n", $2/1024}' "$log.time"
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

if [ -x "$bin/descriptives" ]; then
  echo "== descriptives on methprep's output"
  mkdir -p "$work/des"
  for c in 1 2 3; do
    "$bin/descriptives" "$work/out/meth/" "$work/out/samples.txt" "$work/des/" "$c" > "$work/des$c.out"
    rows=$(($(wc -l < "$work/des/des_chr$c.csv") - 1))
    kept=$(awk -F'\t' -v c=$c '$1 == c {print $4}' "$work/out/manifest.tsv")
    [ "$rows" = "$kept" ] || { echo "descriptives wrote $rows sites for chromosome $c, methprep kept $kept"; exit 1; }
    echo "chromosome $c: descriptives read $rows sites"
  done
else
  echo "== descriptives is not built in $bin: the road from methprep's output was not checked"
fi
