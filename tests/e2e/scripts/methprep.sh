#!/usr/bin/env bash
# methprep beyond the single cases: gzip and plain input agree, spilling
# unsorted input to disk and merging samples in groups give the same files,
# duplicates across spilled chunks are caught, names are checked, and every
# failure leaves no output behind.
set -u
bin=$(cd "$1" && pwd)
mp=$bin/methprep
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# Runs methprep expecting failure: status non-zero, message on standard
# output containing $1, no output folder left (or only what was there).
expect_error() {
  local want=$1 out=$2; shift 2
  local before=""
  [ -d "$out" ] && before=$(cd "$out" && find . | sort)
  if "$mp" -q --out "$out" "$@" > msg 2> err; then fail "succeeded: $*"; return; fi
  grep -qF -- "$want" msg || fail "message for $*: want '$want', got '$(cat msg)'"
  [ -s err ] && fail "standard error not empty for $*: $(cat err)"
  if [ -n "$before" ]; then
    [ "$(cd "$out" && find . | sort)" = "$before" ] || fail "output folder changed by failed run: $*"
  else
    [ -e "$out" ] && fail "output folder left by failed run: $*"
  fi
}

# Six samples over two chromosomes, unsorted and with interleaved chromosomes.
for s in 1 2 3 4 5 6; do
  : > s$s.cov
  for i in $(seq 1 40); do
    [ $(( (i * 7 + s) % 5 )) = 0 ] && continue  # each sample misses some sites
    p=$(( (i * 37) % 97 + 1 ))
    c=$(( i % 2 + 1 ))
    m=$(( (i * s) % 5 )) u=$(( (i + s) % 3 ))
    # Skip positions this sample already listed on the chromosome.
    grep -q "^chr$c	$p	" s$s.cov && continue
    printf 'chr%d\t%d\t%d\t0\t%d\t%d\n' $c $p $p $m $u >> s$s.cov
  done
done
inputs=(s1.cov s2.cov s3.cov s4.cov s5.cov s6.cov)

"$mp" -q --format bismark --min-samples 0.7 --out ref "${inputs[@]}" > ref.out || fail "reference run"
[ -f ref/samples.txt ] && [ -d ref/meth/chr1 ] && [ -d ref/meth/chr2 ] || fail "reference output missing"
grep -q "values filled in" ref.out || fail "no summary"

# Small memory chunks force sorted chunk files and their merge.
"$mp" -q --format bismark --min-samples 0.7 --run-records 3 --out spill "${inputs[@]}" > /dev/null || fail "spill run"
diff -r ref spill > /dev/null || fail "spilled runs give other output"
# Merging two samples at a time carries the sums across groups.
"$mp" -q --format bismark --min-samples 0.7 --max-open 2 --out group "${inputs[@]}" > /dev/null || fail "grouped run"
diff -r ref group > /dev/null || fail "grouped merge gives other output"
# gzip input reads as the plain file.
for s in 1 2 3 4 5 6; do gzip -c s$s.cov > s$s.cov.gz; done
"$mp" -q --format bismark --min-samples 0.7 --out gz s?.cov.gz > /dev/null || fail "gzip run"
diff -r ref gz > /dev/null || fail "gzip input gives other output"
# Every kept site is in every file, in ascending order.
for c in 1 2; do
  n=$(awk -F'\t' -v c=$c '$1 == c {print $4}' ref/manifest.tsv)
  for s in 1 2 3 4 5 6; do
    f=ref/meth/chr$c/s$s.csv
    [ "$(($(wc -l < $f) - 1))" = "$n" ] || fail "$f does not hold $n sites"
    tail -n +2 $f | cut -d, -f1 | sort -nc || fail "$f not ascending"
    cmp -s <(cut -d, -f1 $f) <(cut -d, -f1 ref/meth/chr$c/s1.csv) || fail "$f has other sites than s1"
  done
done
# No working folder is left behind.
[ -z "$(find ref spill group gz -name '.methprep-*')" ] || fail "temporary folder left"
# Progress goes to standard error, the summary to standard output.
"$mp" --format bismark --out prog s1.cov > prog.out 2> prog.err || fail "progress run"
grep -q "reading s1.cov (1/1)" prog.err || fail "no progress on standard error"
grep -q "merging chromosome 1" prog.err || fail "no merge progress"
grep -q "1 samples, 2 chromosomes written" prog.out || fail "summary: $(cat prog.out)"

# A duplicate split across spilled chunks still names both lines.
printf 'chr1\t5\t5\t0\t1\t0\nchr1\t9\t9\t0\t1\t0\nchr1\t7\t7\t0\t1\t0\nchr1\t5\t5\t0\t1\t0\n' > dup.cov
expect_error "dup.cov:4: position 5 of chromosome 1 is listed twice (also on line 1)" o1 --format bismark --run-records 2 s1.cov dup.cov

# Failures leave nothing behind.
printf 'chr1\t1\t1\t0\t1\t0\nchr1\t2\t2\n' > bad.cov
expect_error "bad.cov:2: expected 6 tab-separated fields" o2 --format bismark s1.cov bad.cov
printf 'chr1\t1\t1\t150\t1\t0\n' > pct.cov
expect_error 'pct.cov:1: percent "150" is not a number from 0 to 100' o2 --format bismark pct.cov
printf 'chr1\t-1\t1\t0\t1\t0\n' > neg.cov
expect_error 'neg.cov:1: start "-1" is not a whole number' o2 --format bismark neg.cov
printf 'chr1\t3000000000\t3000000000\t0\t1\t0\n' > far.cov
expect_error 'far.cov:1: start "3000000000" is not a whole number from 0 to 2147483647' o2 --format bismark far.cov
printf 'chr,pos,N,X\nchr1,5,2,3\n' > over.txt
expect_error "over.txt:2: X 3 is larger than N 2" o2 --format counts over.txt
printf 'chr1,5,2,1\n' > nohead.txt
expect_error "nohead.txt:1: expected a header" o2 --format counts nohead.txt
printf 'chr1\t5\t6\t101\n' > big.bedGraph
expect_error 'big.bedGraph:1: value "101" is not a percentage' o2 --format bedgraph big.bedGraph
printf 'chr,pos,a,b\nchr1,5,0.5\n' > short.csv
expect_error "short.csv:2: expected 4 comma-separated fields" o2 --format matrix short.csv
printf 'chr,pos,a,b\nchr1,5,0.5,1.5\n' > beta.csv
expect_error 'beta.csv:2: sample column 2: "1.5" is not a beta value' o2 --format matrix beta.csv
head -c -12 s1.cov.gz > trunc.cov.gz
expect_error "cannot read trunc.cov.gz: gzip data are damaged" o2 --format bismark s1.cov trunc.cov.gz
expect_error "cannot open missing.cov" o2 --format bismark s1.cov missing.cov
printf 'x,1\nchr9\n' > badmap.csv
expect_error "badmap.csv:2: expected \"name,number\"" o2 --format bismark --chrom-map badmap.csv s1.cov
expect_error '--chroms: "chrQ" is not a chromosome number' o2 --format bismark --chroms 1,chrQ s1.cov
# An earlier output is not overwritten.
expect_error "already holds meth from an earlier run" ref --format bismark s1.cov

# Names: from --names, refused when unusable or repeated.
printf 'alpha\nbeta\r\n' > names.txt
"$mp" -q --format bismark --names names.txt --out named s1.cov s2.cov > /dev/null || fail "names run"
[ "$(cat named/samples.txt)" = "$(printf 'alpha\nbeta')" ] || fail "names not taken from names.txt"
[ -f named/meth/chr1/beta.csv ] || fail "named file missing"
mkdir -p d1 d2 && cp s1.cov d1/x.cov && gzip -c s2.cov > d2/x.cov.gz
expect_error 'sample name "x" is given twice (from d1/x.cov; from d2/x.cov.gz)' o3 --format bismark d1/x.cov d2/x.cov.gz
cp s1.cov "my sample.cov"
expect_error 'sample name "my sample" (from my sample.cov) holds the character " "' o3 --format bismark "my sample.cov"
printf 'a\na\n' > dupnames.txt
expect_error 'sample name "a" is given twice (line 1 of dupnames.txt; line 2 of dupnames.txt)' o3 --format bismark --names dupnames.txt s1.cov s2.cov
printf 'a\n../b\n' > slash.txt
expect_error 'sample name "../b" (line 2 of slash.txt) begins with' o3 --format bismark --names slash.txt s1.cov s2.cov
printf 'a\n' > few.txt
expect_error "names file few.txt holds 1 names for 2 samples" o3 --format bismark --names few.txt s1.cov s2.cov
printf 'chr,pos,a,a\nchr1,5,0.5,1\n' > twice.csv
expect_error 'sample name "a" is given twice (column 3 of twice.csv; column 4 of twice.csv)' o3 --format matrix twice.csv

# Command line.
"$mp" --help > help.out 2>&1 || fail "--help status"
grep -q -- "--min-samples" help.out || fail "--help lists no options"
"$mp" --format vcf --out o4 s1.cov > /dev/null 2>&1 && fail "unknown format accepted"
[ -e o4 ] && fail "usage error created the output folder"

[ $fails = 0 ] && echo "methprep script: all passed"
exit $((fails > 0))
