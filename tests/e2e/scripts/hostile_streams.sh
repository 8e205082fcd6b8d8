#!/usr/bin/env bash
# Inputs that are not regular files, inputs without end, and sample lists that
# name a sample twice, given to descriptives, selfgram, crossgram and
# fullgram: a named pipe in place of a methylation file is read once and gives
# the same results as the file (never a hang); where files must be reopened
# (more samples than may be open at once) a pipe is refused before anything
# is read; a device with no line end, as methylation file, sample list or
# descriptives file, fails with a message naming it (also under a memory
# limit), as does a duplicate sample name. Nothing is left behind.
# Usage: bash hostile_streams.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
for p in methgen descriptives selfgram crossgram fullgram; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built"; exit 77; }
done
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"
cd "$work" || exit 1
T="timeout 60"
feeders=()
trap 'for p in "${feeders[@]:-}"; do [ -n "$p" ] && kill "$p" 2>/dev/null; done; faults_cleanup' EXIT

# A copy of the data whose file <chr>/<sample> is a named pipe fed from the
# original (the feeder is killed at the end if nobody read it).
piped_copy() {  # piped_copy <folder> <chr> <sample>
  rm -rf "$1" && cp -r d "$1"
  local f=$1/meth/chr$2/$3.csv
  rm "$f" && mkfifo "$f"
  cat "d/meth/chr$2/$3.csv" > "$f" &
  feeders+=($!)
}
same_files() {  # same_files <label> <file> <reference>
  if cmp -s "$2" "$3"; then echo "ok   $1: same output as from regular files"
  else echo "FAIL $1: output differs from the regular files'"; fail_count=$((fail_count + 1)); fi
}
S1=$(sed -n 1p d/samples.txt); S5=$(sed -n 5p d/samples.txt)

mkdir -p ref/des ref/blk ref/one/des ref/one/blk
"$bin/descriptives" d/meth/ d/samples.txt ref/des/ 1 > /dev/null
"$bin/selfgram" d/meth/ d/samples.txt des/ ref/blk/ 1 2 1 12 > /dev/null
"$bin/crossgram" d/meth/ d/samples.txt des/ ref/blk/ 1 2 1 8 4 12 > /dev/null
"$bin/fullgram" d/meth/ d/samples.txt ref/one/des/ ref/one/blk/ 1 2 > /dev/null

# Pipes read once, in place of the coverage file and of another file.
for who in "$S1" "$S5"; do
  piped_copy p 1 "$who"; mkdir -p o
  $T "$bin/descriptives" p/meth/ p/samples.txt o/ 1 > /dev/null
  same_files "descriptives, $who's file a pipe" o/des_chr1.csv ref/des/des_chr1.csv
  piped_copy p 2 "$who"; mkdir -p o
  $T "$bin/selfgram" p/meth/ p/samples.txt des/ o/ 1 2 1 12 > /dev/null
  same_files "selfgram, $who's file a pipe" o/diagst_1.12_.csv ref/blk/diagst_1.12_.csv
  # Overlapping blocks: the common samples' files are opened once.
  piped_copy p 1 "$who"
  $T "$bin/crossgram" p/meth/ p/samples.txt des/ o/ 1 2 1 8 4 12 > /dev/null
  same_files "crossgram with overlapping blocks, $who's file a pipe" o/rect_1.8_4.12_.csv ref/blk/rect_1.8_4.12_.csv
  piped_copy p 2 "$who"; mkdir -p o/des
  $T "$bin/fullgram" p/meth/ p/samples.txt o/des/ o/ 1 2 > /dev/null
  same_files "fullgram, $who's file a pipe" o/diag_1.12_.csv ref/one/blk/diag_1.12_.csv
  rm -rf o
done

# More files than may be open: a pipe cannot be reopened, so it is refused.
lim="ulimit -Sn 12 && ulimit -Hn 12 &&"
piped_copy p 1 "$S5"; mkdir -p o/des
expect_failure "descriptives, a pipe among more files than may be open" "$S5.csv is not a regular file" o/des/des_chr1.csv \
  "$lim $T \"$bin/descriptives\" p/meth/ p/samples.txt o/des/ 1"
expect_failure "selfgram, a pipe among more files than may be open" "$S5.csv is not a regular file" - \
  "$lim $T \"$bin/selfgram\" p/meth/ p/samples.txt des/ o/ 1 2 1 12"
expect_failure "fullgram, a pipe among more files than may be open" "$S5.csv is not a regular file" - \
  "$lim $T \"$bin/fullgram\" p/meth/ p/samples.txt o/des/ o/ 1 2"
[ -z "$(ls o/des)" ] || { echo "FAIL fullgram left $(ls o/des)"; fail_count=$((fail_count + 1)); }

# A pipe that breaks off: the in-step fault is reported as found.
rm -rf p && cp -r d p && f=p/meth/chr1/$S5.csv && rm "$f" && mkfifo "$f"
head -n 100 "d/meth/chr1/$S5.csv" > "$f" & feeders+=($!)
expect_failure "selfgram, a pipe cut off" "$S5.csv has 99 data lines, but .*des_chr1.csv has 300 sites" - \
  "$T \"$bin/selfgram\" p/meth/ p/samples.txt des/ o/ 1 2 1 12"

# No line end: a device as methylation file, sample list, descriptives file.
rm -rf z && cp -r d z && ln -sf /dev/zero "z/meth/chr1/$S5.csv" && mkdir -p o/des
expect_failure "descriptives, /dev/zero as a methylation file" "cannot read file named .*$S5.csv: a line longer than 256 MiB" - \
  "$T \"$bin/descriptives\" z/meth/ z/samples.txt o/des/ 1"
# A memory limit leaves no room for the address sanitizer's shadow memory.
asan=""; case $(cd "$bin/.." && pwd) in *asan*) asan=1 ;; esac
[ -n "$asan" ] && skip "memory limits under the address sanitizer"
[ -n "$asan" ] || expect_failure "fullgram, /dev/zero as a methylation file, 1 GB of memory" "cannot read file .*$S5.csv: (Cannot allocate memory|a line longer)" - \
  "ulimit -v 1000000 && $T \"$bin/fullgram\" z/meth/ z/samples.txt o/des/ o/ 1 2"
expect_failure "selfgram, /dev/zero as the sample list" "cannot read file /dev/zero" - \
  "$T \"$bin/selfgram\" d/meth/ /dev/zero des/ o/ 1 2 1 12"
[ -n "$asan" ] || expect_failure "descriptives, /dev/zero as the sample list, 150 MB of memory" "cannot read file named /dev/zero: Cannot allocate memory" - \
  "ulimit -v 150000 && $T \"$bin/descriptives\" d/meth/ /dev/zero o/des/ 1"
mkdir -p zd && ln -sf /dev/zero zd/des_chr1.csv && cp des/des_chr2.csv zd/
expect_failure "crossgram, /dev/zero as a descriptives file" "descriptives file zd/des_chr1.csv is not a regular file" - \
  "$T \"$bin/crossgram\" d/meth/ d/samples.txt zd/ o/ 1 2 1 6 7 12"

# A sample named twice.
{ cat d/samples.txt; sed -n 3p d/samples.txt; } > twice.txt
S3=$(sed -n 3p d/samples.txt)
for cmd in "descriptives d/meth/ twice.txt o/des/ 1" "selfgram d/meth/ twice.txt des/ o/ 1 2 1 6" \
           "crossgram d/meth/ twice.txt des/ o/ 1 2 1 6 7 12" "fullgram d/meth/ twice.txt o/des/ o/ 1 2"; do
  expect_failure "${cmd%% *}, a sample named twice" "twice.txt names sample \"$S3\" twice \(samples 3 and 13\)" - "$T \"$bin/\"$cmd"
done
[ -z "$(ls o/des)" ] || { echo "FAIL descriptives files left: $(ls o/des)"; fail_count=$((fail_count + 1)); }
faults_finish
