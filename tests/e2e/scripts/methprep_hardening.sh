#!/usr/bin/env bash
# methprep against careless and hostile inputs: pipes and named pipes (plain
# and gzip, slow producers), byte-order marks, data after a gzip member and
# concatenated members, non-finite options, low open-file limits, memory
# limits, signals, and the exit status of every kind of failure. Every
# failure must leave nothing behind.
set -u
bin=$(cd "$1" && pwd)
mp=$bin/methprep
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# Runs methprep expecting status $1 and $2 in the message; the output folder
# $3 must not exist afterwards unless it did before, and nothing else may
# change.
expect_status() {
  local want=$1 msg=$2 out=$3; shift 3
  local before existed=0
  before=$(find . | sort)
  [ -e "$out" ] && existed=1
  "$mp" -q --out "$out" "$@" > msg.out 2> msg.err
  local rc=$?
  [ $rc = "$want" ] || fail "status $rc, want $want: $* ($(head -1 msg.out))"
  grep -qF -- "$msg" msg.out || fail "message for $*: want '$msg', got '$(head -1 msg.out)'"
  [ $existed = 0 ] && [ -e "$out" ] && fail "output folder left by failed run: $*"
  rm -f msg.out msg.err
  [ "$(find . | sort)" = "$before" ] || fail "files changed by failed run: $* ($(diff <(echo "$before") <(find . | sort)))"
}

printf 'chr12\t5\t5\t0\t1\t1\nchr12\t9\t9\t0\t2\t0\nchrX\t3\t3\t0\t0\t4\n' > a.cov
printf 'chr12\t5\t5\t0\t3\t1\nchr12\t9\t9\t0\t1\t1\nchrX\t3\t3\t0\t2\t2\n' > b.cov
gzip -c a.cov > a.cov.gz
gzip -c b.cov > b.cov.gz
printf 'a\nb\n' > names.txt
"$mp" -q --format bismark --out ref a.cov b.cov > /dev/null || fail "reference run"

# ---- Pipes: standard input, named pipes, gzip through both, slow producers.
slow() { head -c 1 "$1"; sleep 0.2; tail -c +2 "$1"; }  # the first read sees one byte
for f in a.cov a.cov.gz; do
  "$mp" -q --format bismark --names names.txt --out p1 /dev/stdin b.cov < <(cat $f) > /dev/null || fail "stdin pipe $f"
  diff -r ref p1 > /dev/null || fail "stdin pipe $f gives other output"
  rm -rf p1
  slow $f | "$mp" -q --format bismark --names names.txt --out p1 /dev/stdin b.cov > /dev/null || fail "slow pipe $f"
  diff -r ref p1 > /dev/null || fail "slow pipe $f gives other output"
  rm -rf p1
done
mkfifo a.fifo b.fifo n.fifo
slow a.cov.gz > a.fifo & slow b.cov > b.fifo & cat names.txt > n.fifo &
"$mp" -q --format bismark --names n.fifo --out p2 a.fifo b.fifo > /dev/null || fail "named pipes"
wait
diff -r ref p2 > /dev/null || fail "named pipes give other output"
printf 'chr,pos,a,b\nchr12,5,0.5,0.75\n' > mx.csv
gzip -c mx.csv | "$mp" -q --format matrix --out p3 /dev/stdin > /dev/null || fail "matrix through a pipe"
[ "$(cat p3/meth/chr12/b.csv)" = "$(printf 'position,value\n5,0.75')" ] || fail "matrix through a pipe: $(cat p3/meth/chr12/b.csv)"
# One pipe given twice would wait for ever on the second open: refused.
expect_status 1 "are the same file" o1 --format bismark --names names.txt /dev/stdin /dev/stdin
ln -s a.cov alias.cov
expect_status 1 "inputs a.cov and alias.cov are the same file" o1 --format bismark a.cov alias.cov

# ---- Byte-order marks, in every kind of file, plain and gzip.
bom=$'\xef\xbb\xbf'
{ printf '%s' "$bom"; cat a.cov; } > a.cov.bom
{ printf '%s' "$bom"; cat b.cov; } | gzip > b.cov.bom.gz
{ printf '%s' "$bom"; cat names.txt; } > names.bom
"$mp" -q --format bismark --names names.bom --out m1 a.cov.bom b.cov.bom.gz > /dev/null || fail "byte-order marks"
diff -r ref m1 > /dev/null || fail "byte-order marks give other output"
{ printf '%schr,pos,N,X\n' "$bom"; printf 'chr12,5,2,1\n'; } > c.txt
"$mp" -q --format counts --out m2 c.txt > /dev/null || fail "counts header after a byte-order mark"
{ printf '%s' "$bom"; cat mx.csv; } > mx.bom.csv
"$mp" -q --format matrix --out m3 mx.bom.csv > /dev/null || fail "matrix header after a byte-order mark"
{ printf '%schr12,12\n' "$bom"; } > map.bom
"$mp" -q --format bismark --chrom-map map.bom --out m4 a.cov > /dev/null || fail "chromosome map after a byte-order mark"
[ "$(cut -f1 m4/manifest.tsv | tail -n +2 | tr '\n' ' ')" = "12 23 " ] || fail "map after a byte-order mark: $(cat m4/manifest.tsv)"
{ printf '%s' "$bom"; printf '%s' "$bom"; cat a.cov; } > twice.bom
# Only one mark is skipped: a second is part of the first chromosome name.
"$mp" -q --format bismark --out m5 twice.bom > /dev/null || fail "two marks"
grep -q "unknown name" m5/manifest.tsv || fail "a second mark is not part of the data"

# ---- gzip: concatenated members read, anything else after a member refused.
{ gzip -c <(head -2 a.cov); gzip -c /dev/null; gzip -c <(tail -1 a.cov); } > am.cov.gz
"$mp" -q --format bismark --names names.txt --out g1 am.cov.gz b.cov > /dev/null || fail "gzip members"
diff -r ref g1 > /dev/null || fail "concatenated gzip members give other output"
{ cat a.cov.gz; printf 'chr1\t3\t3\t0\t1\t0\n'; } > t1.cov.gz
expect_status 1 "cannot read t1.cov.gz: data that are not gzip follow the gzip data" o1 --format bismark t1.cov.gz
{ cat a.cov.gz; head -c 100 /dev/zero; } > t2.cov.gz
expect_status 1 "data that are not gzip follow" o1 --format bismark t2.cov.gz
{ cat a.cov.gz; printf '\037'; } > t3.cov.gz
expect_status 1 "data that are not gzip follow" o1 --format bismark t3.cov.gz
cat a.cov.gz t1.cov.gz | expect_status 1 "cannot read /dev/stdin: data that are not gzip" o1 --format bismark /dev/stdin
{ cat a.cov.gz; head -c 30 b.cov.gz; } > t4.cov.gz
expect_status 1 "gzip data are damaged" o1 --format bismark t4.cov.gz

# ---- Options: not a finite number in range is a command-line error.
for v in nan NaN -nan inf -inf 1e999 infinity -0.1 1.5 0x1p-1 "" " 0.5"; do
  expect_status 2 "--min-samples" o1 --format bismark --min-samples "$v" a.cov
done
for v in nan inf 1e999 -1 0 4294967295 1.5; do
  expect_status 2 "--min-coverage" o1 --format bismark --min-coverage "$v" a.cov
done
for v in nan inf 0 -3; do
  expect_status 2 "--run-records" o1 --format bismark --run-records "$v" a.cov
done

# ---- Exit statuses: 1 bad input, 2 bad command line, 255 output or memory.
mkdir adir
expect_status 1 "cannot open missing.cov: No such file" o1 --format bismark a.cov missing.cov
expect_status 1 "cannot open adir: Is a directory" o1 --format bismark adir
expect_status 1 "cannot open missing.csv" o1 --format matrix missing.csv
expect_status 1 "cannot open names file missing.txt" o1 --format bismark --names missing.txt a.cov
expect_status 1 "cannot open chromosome map missing.map" o1 --format bismark --chrom-map missing.map a.cov
printf 'chr1\t1\t1\t0\t1\n' > bad.cov
expect_status 1 "bad.cov:1: expected 6 tab-separated fields" o1 --format bismark a.cov bad.cov
expect_status 1 "holds 2 names for 1 samples" o1 --format bismark --names names.txt a.cov
mkdir d1 d2 && cp a.cov d1/ && cp a.cov d2/
expect_status 1 'sample name "a" is given twice' o1 --format bismark d1/a.cov d2/a.cov
expect_status 1 "inputs a.cov and ./a.cov are the same file" o1 --format bismark a.cov ./a.cov
expect_status 1 "b.cov and names file b.cov are the same file" o1 --format bismark --names b.cov a.cov b.cov
expect_status 1 "names file names.txt and chromosome map names.txt are the same file" o1 --format bismark \
  --names names.txt --chrom-map names.txt a.cov b.cov
expect_status 1 "/dev/stdin and names file /dev/stdin are the same file" o1 --format bismark --names /dev/stdin a.cov /dev/stdin
expect_status 1 "empty file" o1 --format counts /dev/null
expect_status 2 "--format" o1 --format vcf a.cov
expect_status 2 "reads exactly one input" o1 --format matrix mx.csv mx.csv
expect_status 2 "chrQ" o1 --format bismark --chroms chrQ a.cov
expect_status 2 "INPUT" o1 --format bismark
expect_status 2 "empty folder name" "" --format bismark a.cov
: > plainfile
expect_status 255 "output folder plainfile is not a folder" plainfile --format bismark a.cov
expect_status 255 "cannot create output folder plainfile/o" plainfile/o --format bismark a.cov
"$mp" -q --format bismark --out ref a.cov > msg.out
[ $? = 255 ] && grep -q "already holds meth from an earlier run" msg.out || fail "earlier output: $(cat msg.out)"
diff -r ref p2 > /dev/null || fail "earlier output touched"
[ -z "$(find ref -name '.methprep-*')" ] || fail "working folder left in an earlier output"
rm -f msg.out
# Out of memory: one message naming what was read, status 255.
# (Not under the address sanitizer: a memory limit leaves no room for its
# shadow memory.)
oom() {
  case $(cd "$bin/.." && pwd) in *asan*) return 0 ;; esac
  (fails=0; ulimit -v 250000; expect_status 255 "$@"; exit $fails) || fails=$((fails + 1))
}
oom "out of memory while reading /dev/zero" o1 --format bismark a.cov /dev/zero
oom "out of memory while reading /dev/zero" o1 --format matrix /dev/zero
oom "out of memory while reading names file /dev/zero" o1 --format bismark --names /dev/zero a.cov
oom "out of memory while reading chromosome map /dev/zero" o1 --format bismark --chrom-map /dev/zero a.cov
head -c 200000000 /dev/zero | gzip -1 > zero.gz
oom "out of memory while reading zero.gz" o1 --format counts zero.gz

# ---- Low open-file limits: a run succeeds with the same output or fails
# with a message, and never leaves anything behind.
for s in 1 2 3 4 5 6 7 8; do
  for i in 9 3 7 1 5; do printf 'chr%d\t%d\t%d\t0\t%d\t1\n' $((i % 2 + 1)) $((i * s)) $((i * s)) $s; done > lim$s.cov
done
"$mp" -q --format bismark --min-samples 0 --out limref lim?.cov > /dev/null || fail "open-file reference run"
failed_any=0
# The sanitizers' runtime needs descriptors of its own at the lowest limits:
# there a failed run is any failure that leaves nothing behind.
asan=""; case $(cd "$bin/.." && pwd) in *asan*) asan=1 ;; esac
for n in 5 6 7 8 9 10 12 16; do
  (ulimit -n $n; exec "$mp" -q --format bismark --min-samples 0 --run-records 2 --out lim lim?.cov) > lim.out 2>&1
  rc=$?
  if [ $rc = 0 ]; then
    diff -r limref lim > /dev/null || fail "open-file limit $n: other output"
    rm -rf lim
  else
    failed_any=1
    if [ -z "$asan" ]; then
      [ $rc = 255 ] || fail "open-file limit $n: status $rc"
      grep -q "Too many open files" lim.out || fail "open-file limit $n: $(cat lim.out)"
    fi
    [ -e lim ] && fail "open-file limit $n left $(find lim)"
  fi
done
[ $failed_any = 1 ] || fail "no open-file limit was low enough to fail"
mkdir keep
(ulimit -n 5; exec "$mp" -q --format bismark --run-records 2 --out keep lim?.cov) > lim.out 2>&1
[ "$(ls -A keep)" = "" ] || fail "a failed run left $(ls -A keep) in an existing folder"

# ---- Signals: every catchable terminating signal removes the working folder
# and the folder the run created, then ends the run by that signal; a write
# of the run's own to a pipe without reader does not end it.
for sig in HUP TERM USR1 USR2 ALRM VTALRM XCPU RTMIN ABRT PIPE; do
  rm -f s.fifo
  mkfifo s.fifo
  { cat a.cov; sleep 3; } > s.fifo &
  writer=$!
  "$mp" -q --format bismark --out sig a.cov s.fifo > /dev/null 2>&1 &
  pid=$!
  for _ in $(seq 50); do [ -n "$(ls -A sig 2> /dev/null)" ] && break; sleep 0.1; done
  [ -n "$(ls -A sig 2> /dev/null)" ] || fail "$sig: no working folder seen"
  kill -s $sig $pid
  wait $pid 2> /dev/null
  rc=$?
  [ $rc -gt 128 ] || fail "$sig: status $rc"
  [ -e sig ] && fail "$sig left $(find sig)"
  kill $writer 2> /dev/null
  wait $writer 2> /dev/null
done
"$mp" --format bismark --out sigpipe a.cov b.cov 2>&1 | true
[ "${PIPESTATUS[0]}" = 0 ] || fail "a closed standard output ended the run (status ${PIPESTATUS[0]})"
[ -f sigpipe/samples.txt ] && [ -z "$(find sigpipe -name '.methprep-*')" ] || fail "closed standard output: no output"

[ $fails = 0 ] && echo "methprep hardening script: all passed"
exit $((fails > 0))
