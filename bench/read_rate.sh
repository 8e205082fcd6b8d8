#!/usr/bin/env bash
# Reading rate of descriptives, in data lines per second, on a generated
# dataset, beside a plain ifstream/getline/atof walk over the same files.
# Usage: bench/read_rate.sh [samples=200] [sites=200000] [runs=3]
# Needs a Release build in build/ (scripts/build.sh). The dataset goes to a
# temporary folder (about 19 bytes per line) and is removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
samples=${1:-200} sites=${2:-200000} runs=${3:-3}
bin=build/bin
for p in methgen descriptives getline_baseline; do
  [ -x "$bin/$p" ] || { echo "missing $bin/$p: run scripts/build.sh first"; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/methgen" --out "$work/d" --samples "$samples" --chroms 1 --sites "$sites"
lines=$((samples * sites))
bytes=$(du -sb "$work/d/meth/chr1" | cut -f1)
echo "dataset: $samples samples x $sites sites = $lines data lines, $((bytes / 1048576)) MiB"

# Best of $runs wall-clock times of a command (files are in the page cache
# after the first run).
best() {
  local best_t= t s e
  for ((r = 0; r < runs; r++)); do
    s=$(date +%s.%N)
    "$@" > /dev/null
    e=$(date +%s.%N)
    t=$(awk -v a="$s" -v b="$e" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$best_t" ] || awk -v a="$t" -v b="$best_t" 'BEGIN { exit !(a < b) }'; then best_t=$t; fi
  done
  echo "$best_t"
}
cat "$work/d/meth/chr1/"*.csv > /dev/null  # warm the page cache
t_des=$(best "$bin/descriptives" "$work/d/meth/" "$work/d/samples.txt" "$work/" 1)
t_base=$(best "$bin/getline_baseline" "$work/d/meth/" "$work/d/samples.txt" 1)
awk -v n="$lines" -v d="$t_des" -v b="$t_base" 'BEGIN {
  printf "descriptives      %8.3f s  %12.0f lines/s\n", d, n / d
  printf "getline baseline  %8.3f s  %12.0f lines/s\n", b, n / b
  printf "speed-up          %8.2f x\n", b / d }'
