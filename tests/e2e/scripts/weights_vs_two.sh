#!/usr/bin/env bash
# weights against stdweights + cenweights on generated data: for each
# chromosome, both loadings files and standard output must match byte for
# byte (weights prints the stdweights lines with the cen eigen lines after
# the std ones and both output names at the end). The cen eigenvector rows
# are put in another order, which weights maps onto the std order. Then the
# same under an open-file limit below the sample count (files reopened at
# their offsets), and a short file there: message, status 255, no output;
# then a named pipe among the files, and an endless line under a memory limit.
# Usage: bash weights_vs_two.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
for p in methgen descriptives selfgram grameigen stdweights cenweights weights; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
set -e
"$bin/methgen" --out data --samples 23 --chroms 2 --sites 5000 --groups 2 --seed 9 --constant 0.02 > /dev/null
mkdir -p des blocks std/loadings cen/loadings ref
for c in 1 2; do "$bin/descriptives" data/meth/ data/samples.txt des/ $c > /dev/null; done
"$bin/selfgram" data/meth/ data/samples.txt des/ blocks/ 1 2 1 23 > /dev/null
for a in std cen; do "$bin/grameigen" data/samples.txt $a/ r $a blocks/ > /dev/null; done
# The cen rows in reverse name order.
{ head -n 1 cen/r_eigenvec.csv; tail -n +2 cen/r_eigenvec.csv | sort -r; } > tmp && mv tmp cen/r_eigenvec.csv
set +e

fail=0
K=6
compare() {  # compare <label> <limit>
  local label=$1 limit=$2 c
  for c in 1 2; do
    ( ulimit -n "$limit"; "$bin/stdweights" data/meth/ des/ std/ r $K $c ) > ref/std.out 2>&1 || { echo "$label: stdweights failed"; fail=1; return; }
    ( ulimit -n "$limit"; "$bin/cenweights" data/meth/ des/ cen/ r $K $c ) > ref/cen.out 2>&1 || { echo "$label: cenweights failed"; fail=1; return; }
    mv std/loadings/r_loadings_chr$c.csv ref/std.csv
    mv cen/loadings/r_loadings_chr$c.csv ref/cen.csv
    ( ulimit -n "$limit"; "$bin/weights" data/meth/ des/ $K $c std/ r cen/ r ) > ref/both.out 2>&1
    local status=$?
    { head -n 5 ref/std.out; sed -n 2,5p ref/cen.out; sed '1,5d;$d' ref/std.out; tail -n 1 ref/std.out; tail -n 1 ref/cen.out; } > ref/want.out
    if [ $status != 0 ]; then echo "$label chr$c: weights status $status"; tail -n 2 ref/both.out; fail=1; continue; fi
    cmp -s ref/std.csv std/loadings/r_loadings_chr$c.csv || { echo "$label chr$c: std loadings differ"; fail=1; }
    cmp -s ref/cen.csv cen/loadings/r_loadings_chr$c.csv || { echo "$label chr$c: cen loadings differ"; fail=1; }
    cmp -s ref/want.out ref/both.out || { echo "$label chr$c: standard output differs"; diff ref/want.out ref/both.out | head -5; fail=1; }
    rm -f std/loadings/* cen/loadings/*
  done
}
compare "all files open" 1024
grep -q "Standardard deviation" ref/both.out || { echo "no constant site was exercised"; fail=1; }
compare "ulimit -n 12" 12

# A short file read in turns: the message of the walk, no output at all.
head -n 4000 "data/meth/chr1/$(sed -n 17p data/samples.txt).csv" > tmp && mv tmp "data/meth/chr1/$(sed -n 17p data/samples.txt).csv"
out=$( (ulimit -n 12; "$bin/weights" data/meth/ des/ $K 1 std/ r cen/ r) 2>&1)
status=$?
if [ $status != 255 ] || ! echo "$out" | tail -n 1 | grep -q "has fewer lines than" ||
   [ -n "$(find std/loadings cen/loadings -type f)" ]; then
  echo "short file under ulimit -n 12: status $status"; echo "$out" | tail -n 2; find std/loadings cen/loadings -type f; fail=1
fi
# A named pipe among the files: read as a stream when every file is open at
# once (same loadings as chromosome 2 above), refused before reading when
# the files must be reopened in turns.
f="data/meth/chr2/$(sed -n 5p data/samples.txt).csv"
mv "$f" real.csv
mkfifo "$f"
cat real.csv > "$f" & feeder=$!
out=$(timeout 60 "$bin/weights" data/meth/ des/ $K 2 std/ r cen/ r 2>&1)
status=$?
kill $feeder 2>/dev/null; wait $feeder 2>/dev/null
if [ $status != 0 ] || ! cmp -s ref/std.csv std/loadings/r_loadings_chr2.csv ||
   ! cmp -s ref/cen.csv cen/loadings/r_loadings_chr2.csv; then
  echo "pipe, all files open: status $status"; echo "$out" | tail -n 2; fail=1
fi
rm -f std/loadings/* cen/loadings/*
cat real.csv > "$f" & feeder=$!
out=$( (ulimit -n 12; timeout 60 "$bin/weights" data/meth/ des/ $K 2 std/ r cen/ r) 2>&1)
status=$?
kill $feeder 2>/dev/null; wait $feeder 2>/dev/null
if [ $status != 255 ] || ! echo "$out" | tail -n 1 | grep -q "is not a regular file" ||
   [ -n "$(find std/loadings cen/loadings -type f)" ]; then
  echo "pipe under ulimit -n 12: status $status"; echo "$out" | tail -n 2; fail=1
fi
# An endless line (/dev/zero as the cen eigenvector file) under a memory
# limit: one message naming the file, status 255, no output. Not under the
# sanitizers, which reserve more address space than the limit.
if ! ldd "$bin/weights" 2>/dev/null | grep -q libasan; then
  mv cen/r_eigenvec.csv cen/r_eigenvec.real
  ln -s /dev/zero cen/r_eigenvec.csv
  out=$( (ulimit -v 200000; "$bin/weights" data/meth/ des/ $K 2 std/ r cen/ r) 2>&1)
  status=$?
  rm cen/r_eigenvec.csv; mv cen/r_eigenvec.real cen/r_eigenvec.csv
  # Memory runs out first, or the line reader's longest line is reached.
  if [ $status != 255 ] ||
     ! echo "$out" | tail -n 1 | grep -Eq "^(out of memory while reading|cannot read file) cen/r_eigenvec.csv" ||
     [ -n "$(find std/loadings cen/loadings -type f)" ]; then
    echo "endless line under ulimit -v: status $status"; echo "$out" | tail -n 2; fail=1
  fi
fi
[ $fail = 0 ] && echo "ok"
exit $fail
