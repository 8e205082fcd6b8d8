#!/usr/bin/env bash
# Long capacity test (not in CI): the whole road beyond the original
# capacities of 3,000,000 sites per chromosome and 1500 samples.
#   (a) 4 samples x 3,000,001 sites of one chromosome
#   (b) 1501 samples x 50 sites
# Each variant runs descriptives, selfgram on two sample blocks, crossgram
# between them, grameigen (std and cen), stdweights and cenweights, and
# checks statuses, empty standard error and the number of lines of every
# output. Usage: bench/capacity.sh [bin dir] [work dir]   (about 1.5 GB free
# space for (a); the work dir is removed at the end)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
bin=${1:-$root/build/bin}
work=${2:-$(mktemp -d)}
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

step() {  # label command...: runs, times, checks status and standard error
  local label=$1; shift
  local t0=$SECONDS
  if ! "$@" > "$work/stdout" 2> "$work/stderr"; then
    echo "FAIL $label: status $?"; tail -5 "$work/stdout"; exit 1
  fi
  [ -s "$work/stderr" ] && { echo "FAIL $label: standard error"; head "$work/stderr"; exit 1; }
  printf '  %-44s %4d s\n' "$label" $((SECONDS - t0))
}
lines() {  # file expected-lines
  local n; n=$(wc -l < "$1")
  [ "$n" = "$2" ] || { echo "FAIL $1 has $n lines, expected $2"; exit 1; }
}

road() {  # name samples sites
  local name=$1 n=$2 sites=$3
  local d=$work/$name h=$(( $2 / 2 ))
  echo "== $name: $n samples x $sites sites"
  step "methgen" "$bin/methgen" --out "$d" --samples "$n" --chroms 1 --sites "$sites"
  mkdir -p "$d/des" "$d/blocks" "$d/res/loadings"
  step "descriptives" "$bin/descriptives" "$d/meth/" "$d/samples.txt" "$d/des/" 1
  lines "$d/des/des_chr1.csv" $((sites + 1))
  step "selfgram 1..$h" "$bin/selfgram" "$d/meth/" "$d/samples.txt" "$d/des/" "$d/blocks/" 1 1 1 $h
  step "selfgram $((h + 1))..$n" "$bin/selfgram" "$d/meth/" "$d/samples.txt" "$d/des/" "$d/blocks/" 1 1 $((h + 1)) $n
  step "crossgram 1..$h x $((h + 1))..$n" "$bin/crossgram" "$d/meth/" "$d/samples.txt" "$d/des/" "$d/blocks/" 1 1 1 $h $((h + 1)) $n
  lines "$d/blocks/diagst_1.${h}_.csv" $h
  lines "$d/blocks/rect_1.${h}_$((h + 1)).${n}_.csv" $h
  step "grameigen std" "$bin/grameigen" "$d/samples.txt" "$d/res/" std std "$d/blocks/"
  step "grameigen cen" "$bin/grameigen" "$d/samples.txt" "$d/res/" cen cen "$d/blocks/"
  lines "$d/res/std_eigenvec.csv" $((n + 1))
  step "stdweights K=3" "$bin/stdweights" "$d/meth/" "$d/des/" "$d/res/" std 3 1
  step "cenweights K=3" "$bin/cenweights" "$d/meth/" "$d/des/" "$d/res/" cen 3 1
  lines "$d/res/loadings/std_loadings_chr1.csv" $((sites + 1))
  lines "$d/res/loadings/cen_loadings_chr1.csv" $((sites + 1))
  echo "  ok: every output complete"
  rm -rf "$d"
}

road a 4 3000001
road b 1501 50
echo "capacity test passed"
