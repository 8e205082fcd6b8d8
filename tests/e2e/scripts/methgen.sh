#!/usr/bin/env bash
# methgen: same arguments give the same bytes (also against a fixed checksum,
# so every machine agrees), another seed gives other values, and the files are
# well formed.
set -u
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "$*"; exit 1; }
gen() { "$bin/methgen" "$@" > "$work/summary" || fail "methgen $* failed"; }

gen --out "$work/a" --samples 12 --chroms 2 --sites 500 --groups 3 --seed 7
gen --out "$work/b" --samples 12 --chroms 2 --sites 500 --groups 3 --seed 7
diff -r "$work/a" "$work/b" > /dev/null || fail "same seed, different files"
gen --out "$work/c" --samples 12 --chroms 2 --sites 500 --groups 3 --seed 8
cmp -s "$work/a/meth/chr1/S01.csv" "$work/c/meth/chr1/S01.csv" && fail "another seed gave the same values"
[ "$(wc -l < "$work/summary")" = 1 ] || fail "summary is not one line"

# Fixed bytes of a tiny dataset.
gen --out "$work/t" --samples 3 --chroms 2 --sites 6 --seed 1
sum=$(cd "$work/t" && find . -type f | LC_ALL=C sort | xargs cat | md5sum | cut -d' ' -f1)
[ "$sum" = "647d380b96d14632e763a03e508c748f" ] || fail "tiny dataset checksum $sum changed"

a=$work/a
[ "$(cat "$a/samples.txt")" = "$(printf 'S%02d\n' $(seq 1 12))" ] || fail "bad samples.txt"
awk -F'\t' 'NF != 2 || $2 < 1 || $2 > 3 { bad = 1 } END { exit bad }' "$a/groups.tsv" || fail "bad groups.tsv"
[ "$(cut -f1 "$a/groups.tsv")" = "$(cat "$a/samples.txt")" ] || fail "groups.tsv names differ"
[ "$(cut -f2 "$a/groups.tsv" | sort -u | wc -l)" = 3 ] || fail "not every group is used"
for c in 1 2; do
  cut -d, -f1 "$a/meth/chr$c/S01.csv" > "$work/pos"
  awk 'NR == 1 { if ($0 != "position") exit 1; next }
       $1 !~ /^[0-9]+$/ || (NR > 2 && $1 + 0 <= prev) { exit 1 } { prev = $1 + 0 }
       END { if (NR != 501) exit 1 }' "$work/pos" || fail "chr$c positions not ascending or count wrong"
  for f in "$a"/meth/chr$c/*.csv; do
    cut -d, -f1 "$f" | cmp -s - "$work/pos" || fail "$f: positions differ from S01"
    awk -F, 'NR == 1 { if ($0 != "position,beta") exit 1; next }
             NF != 2 || $2 !~ /^(0\.[0-9][0-9][0-9][0-9][0-9][0-9]|1\.000000)$/ { exit 1 }' "$f" || fail "$f: bad line"
  done
done
[ "$(ls "$a/meth")" = "$(printf 'chr1\nchr2')" ] || fail "wrong chromosome folders"

# Every site constant: descriptives must give SD 0 throughout.
gen --out "$work/k" --samples 5 --chroms 1 --sites 50 --constant 1
"$bin/descriptives" "$work/k/meth/" "$work/k/samples.txt" "$work/k/" 1 > /dev/null || fail "descriptives failed"
awk -F, 'NR > 1 && $3 != 0 { exit 1 }' "$work/k/des_chr1.csv" || fail "constant sites vary"
# Bad arguments: a message and a non-zero status.
"$bin/methgen" --out "$work/x" --samples 0 --chroms 1 --sites 5 > /dev/null && fail "accepted --samples 0"
echo ok
