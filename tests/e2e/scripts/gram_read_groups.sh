#!/usr/bin/env bash
# selfgram and crossgram read a block's files in groups of samples, in step;
# a group with any fault is read again file by file. Here faults sit in the
# first, a middle and the last group, or the open-file limit is too low for a
# group, and for each the programs' standard
# output (less the processor-time lines), exit status and files written must
# equal those of their _plain twins, which read file by file only.
# Usage: bash gram_read_groups.sh <bin dir> <source dir>; exit 77 when a program is missing.
set -u
bin=$(cd "$1" && pwd)
for p in methgen descriptives selfgram selfgram_plain crossgram crossgram_plain; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built"; exit 77; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1

"$bin/methgen" --out clean --samples 20 --chroms 2 --sites 300 --groups 2 --seed 9 > /dev/null ||
  { echo "methgen failed"; exit 1; }
mkdir -p clean/des
for c in 1 2; do "$bin/descriptives" clean/meth/ clean/samples.txt clean/des/ $c > /dev/null || exit 1; done
name() { sed -n "${1}p" clean/samples.txt; }

# fault <label> <command run inside the data copy> [open-file limit]
fails=0
fault() {
  local label=$1 cmd=$2 limit=${3:-} x
  rm -rf data && cp -r clean data
  (cd data && eval "$cmd") || { echo "$label: setting up failed"; fails=1; return; }
  for x in "" _plain; do
    rm -rf res "out$x" && mkdir -p res/self res/cross
    (
      [ -z "$limit" ] || ulimit -n "$limit"
      "$bin/selfgram$x" data/meth/ data/samples.txt data/des/ res/self/ 1 2 1 20 > res/self.log 2>&1
      echo "status $?" >> res/self.log
      "$bin/crossgram$x" data/meth/ data/samples.txt data/des/ res/cross/ 1 2 1 13 14 20 > res/cross.log 2>&1
      echo "status $?" >> res/cross.log
    )
    sed -i '/^Seconds used/d' res/self.log res/cross.log
    mv res "out$x"
  done
  if ! diff -r out out_plain > diff.txt; then
    echo "$label: differs from reading file by file"; head -20 diff.txt; fails=1
  else
    echo "$label: same ($(tail -1 out/self.log), $(tail -1 out/cross.log))"
  fi
}

fault clean ":"
fault "sample 11 chr2 one line short" "sed -i '\$d' meth/chr2/$(name 11).csv"
fault "sample 3 chr1 missing" "rm meth/chr1/$(name 3).csv"
fault "sample 10 chr1 one line more" "echo 99999999,0.5 >> meth/chr1/$(name 10).csv"
fault "sample 17 chr2 a folder" "rm meth/chr2/$(name 17).csv && mkdir meth/chr2/$(name 17).csv"
fault "sample 12 chr1 an empty last line" "echo >> meth/chr1/$(name 12).csv"
fault "sample 9 chr2 header only" "sed -i '2,\$d' meth/chr2/$(name 9).csv"
fault "sample 20 chr1 no header" "sed -i '1d' meth/chr1/$(name 20).csv"
fault "sample 1 chr1 empty" ": > meth/chr1/$(name 1).csv"
# Too few descriptors for a group's eight files: the group gives its files
# back and is read file by file.
fault "open-file limit 6" ":" 6
exit $fails
