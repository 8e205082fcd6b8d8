#!/usr/bin/env bash
# grameigen against careless and hostile inputs, a class per section, each
# with its variants: one block file reached twice (whatever the path), a
# sample named twice, a diagonal block that is not symmetric, a matrix whose
# result is not finite or holds no variance, named pipes (read once, never a
# hang), and inputs that do not fit in memory. A refused run must end with
# status 255 and one line naming the cause, write nothing on standard error
# and leave its output folder as it was (no result, no temporary). Runs that
# must work are compared byte for byte with the run on regular files.
set -u
bin=$(cd "$1" && pwd)
for p in methgen descriptives selfgram crossgram grameigen; do
  [ -x "$bin/$p" ] || { echo "skip: $p is not built yet"; exit 77; }
done
work=$(mktemp -d)
writers=()  # background writers of named pipes, stopped at the end
trap 'for w in "${writers[@]:-}"; do [ -n "$w" ] && kill "$w" 2>/dev/null; done; rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0

setup() {
  "$bin/methgen" --out d --samples 12 --chroms 2 --sites 300 --seed 3 > /dev/null &&
    mkdir -p des blk zero ref &&
    "$bin/descriptives" d/meth/ d/samples.txt des/ 1 > /dev/null &&
    "$bin/descriptives" d/meth/ d/samples.txt des/ 2 > /dev/null &&
    "$bin/selfgram" d/meth/ d/samples.txt des/ blk/ 1 2 1 6 > /dev/null &&
    "$bin/selfgram" d/meth/ d/samples.txt des/ blk/ 1 2 7 12 > /dev/null &&
    "$bin/crossgram" d/meth/ d/samples.txt des/ blk/ 1 2 1 6 7 12 > /dev/null &&
    "$bin/selfgram" d/meth/ d/samples.txt des/ zero/ 2 1 1 12 > /dev/null &&
    "$bin/grameigen" d/samples.txt ref/ a std blk/ > ref/stdout
}
setup || { echo "setup failed"; exit 1; }

# grameigen under `timeout`, and under `ulimit -v $vlimit` when that is set.
vlimit=""
run_ge() { ( [ -n "$vlimit" ] && ulimit -v "$vlimit"; exec timeout 60 "$bin/grameigen" "$@" ) > out.txt 2> err.txt; }
# writer <file> <command...>: the command writes to the named pipe in the background.
writer() { local f=$1; shift; "$@" > "$f" & writers+=($!); }

# refuse <label> <message regex> <grameigen arguments...>: results go to o/.
refuse() {
  local label=$1 regex=$2
  shift 2
  rm -rf o && mkdir o && echo EARLIER > o/a_eigenval.csv
  run_ge "$@"
  local status=$? bad=""
  [ $status = 124 ] && bad+=" hung (stopped after 60 s);"
  [ $status = 255 ] || bad+=" status $status;"
  [ "$(grep -c . out.txt)" -ge 1 ] && tail -1 out.txt | grep -Eq -- "$regex" || bad+=" last line not matching /$regex/;"
  [ -s err.txt ] && bad+=" standard error not empty;"
  [ "$(ls -A o)" = a_eigenval.csv ] && [ "$(cat o/a_eigenval.csv)" = EARLIER ] || bad+=" output folder changed: $(ls -A o | tr '\n' ' ');"
  if [ -n "$bad" ]; then
    echo "FAIL $label:$bad"; echo "  stdout: $(tail -2 out.txt | tr '\n' '|')"; fails=$((fails + 1))
  else
    echo "ok   $label: $(tail -1 out.txt)"
  fi
}

# works <label> <grameigen arguments...>: the run on ref/'s inputs, whatever
# the form of the paths, writes ref/'s files byte for byte.
works() {
  local label=$1
  shift
  rm -rf o && mkdir o
  run_ge "$@"
  local status=$? bad="" f
  [ $status = 124 ] && bad+=" hung (stopped after 60 s);"
  [ $status = 0 ] || bad+=" status $status: $(tail -1 out.txt);"
  [ -s err.txt ] && bad+=" standard error not empty;"
  for f in a_eigenval.csv a_eigenvec.csv a_pca.svg a_outliers.csv; do
    cmp -s "ref/$f" "o/$f" || bad+=" $f differs;"
  done
  if [ -n "$bad" ]; then echo "FAIL $label:$bad"; fails=$((fails + 1)); else echo "ok   $label"; fi
}

echo "== one block file reached twice"
refuse "the same prefix twice" "blk/diagst_1.6_.csv .*same file as block file blk/diagst_1.6_.csv" d/samples.txt o/ a std blk/ blk/
refuse "the folder as blk/ and ./blk/" "\./blk/diagst_1.6_.csv .*same file as block file blk/diagst_1.6_.csv" d/samples.txt o/ a std blk/ ./blk/
refuse "relative and absolute path" "same file as" d/samples.txt o/ a std blk/ "$work/blk/"
refuse "the folder through a path with .." "same file as" d/samples.txt o/ a std blk/ des/../blk/
ln -s blk blk_link
refuse "a symbolic link to the folder" "blk_link/diagst_1.6_.csv .*same file as" d/samples.txt o/ a std blk/ blk_link/
mkdir -p hard && for f in blk/*st_*; do ln "$f" hard/; done
refuse "hard links in another folder" "hard/diagst_1.6_.csv .*same file as" d/samples.txt o/ a std blk/ hard/
mkdir -p mixed && cp blk/diagst_1.6_.csv blk/rectst_1.6_7.12_.csv mixed/ && ln -s ../blk/diagst_7.12_.csv mixed/diagst_7.12_.csv
refuse "one linked file among copies" "mixed/diagst_7.12_.csv .*same file as block file blk/diagst_7.12_.csv" d/samples.txt o/ a std blk/ mixed/
mkdir -p stem && for f in blk/*st_*; do ln -s "../$f" "stem/x_${f#blk/}"; done
refuse "links under another stem" "stem/x_diagst_1.6_.csv .*same file as" d/samples.txt o/ a std blk/ stem/x_
refuse "the sample list as the groups file" "groups file .*same file as the sample list" d/samples.txt o/ a std blk/ --groups d/samples.txt
mkdir -p half && for f in blk/*st_*; do awk -F, -v OFS=, '{for (i = 1; i <= NF; i++) $i = 0} 1' "$f" > "half/${f#blk/}"; done
works "a second folder of other files (zeros) is added" d/samples.txt o/ a std blk/ half/
mkdir -p one && printf '5\n6\n' > one/diagst_1.1_.csv && printf '5\n' > one/diagst_2.2_.csv && printf '0\n' > one/rectst_2.2_1.1_.csv
refuse "the sample list as a block file" "one/diagst_1.1_.csv .*same file as the sample list one/diagst_1.1_.csv" one/diagst_1.1_.csv o/ a std one/

echo "== a sample named twice"
(cat d/samples.txt; sed -n 3p d/samples.txt) > dup_end.txt
refuse "a name repeated at the end" "dup_end.txt: the name \"S0?3\" on line 13 is the name on line 3" dup_end.txt o/ a std blk/
(sed -n 1,5p d/samples.txt; sed -n 2p d/samples.txt; sed -n 7,12p d/samples.txt) > dup_mid.txt
refuse "a name in place of another" "line 6 is the name on line 2" dup_mid.txt o/ a std blk/
(sed -n 1,4p d/samples.txt; echo; sed -n 6,7p d/samples.txt; echo; sed -n 9,12p d/samples.txt) > dup_empty.txt
refuse "two empty lines inside the list" "the name \"\" on line 8 is the name on line 5" dup_empty.txt o/ a std blk/

echo "== a diagonal block that is not symmetric"
asym() {  # <line> <field> <new value>: a copy of blk/ in asym/ with one cell of diagst_1.6_ changed
  rm -rf asym && cp -r blk asym
  awk -F, -v OFS=, -v r="$1" -v c="$2" -v v="$3" 'NR == r {$c = v} 1' blk/diagst_1.6_.csv > asym/diagst_1.6_.csv
}
asym 2 5 "$(awk -F, 'NR == 5 {printf "%.15e", $2 * 1.0000001}' blk/diagst_1.6_.csv)"
refuse "one cell above the diagonal" "asym/diagst_1.6_.csv .*is not symmetric: line 2, value 5 is .* but line 5, value 2 is" d/samples.txt o/ a std asym/
asym 6 1 "$(awk -F, 'NR == 1 {printf "%.15e", $6 + 1e-3}' blk/diagst_1.6_.csv)"
refuse "one cell below the diagonal, far corner" "not symmetric: line 1, value 6 is" d/samples.txt o/ a std asym/
# The last bit only: 2^-52 relative, not visible at 15 decimals.
asym 3 4 "$(awk -F, 'NR == 4 {printf "%.17g", $3}' blk/diagst_1.6_.csv | python3 -c 'import sys, math; v = float(sys.stdin.read()); print(repr(math.nextafter(v, math.inf)))' 2>/dev/null || echo 1)"
refuse "the last bit of one cell" "not symmetric: line 3, value 4" d/samples.txt o/ a std asym/
printf 'a\nb\nc\n' > abc.txt && mkdir -p sgn && printf '1,0,2\n-0,1,0\n2,0,1\n' > sgn/diagst_1.3_.csv
refuse "0 against -0" "not symmetric: line 1, value 2 is 0 but line 2, value 1 is -0" abc.txt o/ a std sgn/
mkdir -p second && cp blk/*st_* second/ && awk -F, -v OFS=, 'NR == 6 {$1 = $1 + 1} 1' blk/diagst_7.12_.csv > second/diagst_7.12_.csv
refuse "the second diagonal block" "second/diagst_7.12_.csv .*not symmetric: line 1, value 6" d/samples.txt o/ a std second/
mkdir -p nan && printf '1,nan\nnan,1\n' > nan/diagst_1.2_.csv && printf 'a\nb\n' > ab.txt
refuse "not-a-number on both sides" "nan/diagst_1.2_.csv .*\"nan\" is not a finite number" ab.txt o/ a std nan/
mkdir -p digits && for f in blk/*st_*; do
  awk -F, '{for (i = 1; i <= NF; i++) printf "%s%.17g", (i > 1 ? "," : ""), $i; print ""}' "$f" > "digits/${f#blk/}"
done
works "the blocks written with 17 digits (the same values)" d/samples.txt o/ a std digits/

echo "== a result that is not finite or holds no variance"
refuse "all-zero blocks (selfgram 2 1)" "no positive eigenvalue \(the largest is 0\)" d/samples.txt o/ a std zero/
refuse "all-zero centred blocks" "no positive eigenvalue" d/samples.txt o/ a cen zero/
mkdir -p big1 big2 && printf '1.5e308,0\n0,1e308\n' > big1/diagst_1.2_.csv && cp big1/diagst_1.2_.csv big2/
refuse "two prefixes whose sum overflows" "not finite \(row 1, column 1\): the sum of the blocks overflows" ab.txt o/ a std big1/ big2/
mkdir -p big3 && printf '1.7e308,1.7e308\n1.7e308,1.7e308\n' > big3/diagst_1.2_.csv
refuse "an eigenvalue beyond the largest double" "eigenvalue 1 as inf" ab.txt o/ a std big3/
mkdir -p big4 && printf '1.7e308,0\n0,1.7e308\n' > big4/diagst_1.2_.csv
refuse "a total variance beyond the largest double" "sum of the eigenvalues \(the total variance\) is inf" ab.txt o/ a std big4/
mkdir -p neg && printf -- '-1,0\n0,-2\n' > neg/diagst_1.2_.csv
refuse "a negative definite matrix" "no positive eigenvalue \(the largest is -1\)" ab.txt o/ a std neg/
mkdir -p negsum && printf -- '1,0\n0,-3\n' > negsum/diagst_1.2_.csv
refuse "a total variance below zero" "total variance\) is -2, not positive" ab.txt o/ a std negsum/
mkdir -p huge && printf '1.5e308,0\n0,1e307\n' > huge/diagst_1.2_.csv
rm -rf o && mkdir o && "$bin/grameigen" ab.txt o/ a std huge/ > out.txt 2>&1
if [ $? = 0 ] && ! grep -qi nan out.txt o/* && grep -q '93.75%' out.txt && grep -q '93.8%' o/a_pca.svg; then
  echo "ok   finite near the largest double: shares without nan"
else
  echo "FAIL finite near the largest double: $(grep -i nan out.txt o/* | head -2)"; fails=$((fails + 1))
fi

echo "== named pipes: read once, never a hang"
mkfifo list.fifo && writer list.fifo cat d/samples.txt
works "the sample list a named pipe" list.fifo o/ a std blk/
works "the sample list on standard input" /dev/stdin o/ a std blk/ < d/samples.txt
works "the sample list by process substitution" <(cat d/samples.txt) o/ a std blk/
mkdir -p pipes && cp blk/*st_* pipes/ && rm pipes/rectst_1.6_7.12_.csv && mkfifo pipes/rectst_1.6_7.12_.csv
writer pipes/rectst_1.6_7.12_.csv cat blk/rectst_1.6_7.12_.csv
works "a block file a named pipe" d/samples.txt o/ a std pipes/
refuse "a named pipe reached twice" "pipes/diagst_1.6_.csv .*same file as" d/samples.txt o/ a std pipes/ pipes/
mkfifo twice.fifo && writer twice.fifo cat d/samples.txt
refuse "one pipe as sample list and groups file" "groups file twice.fifo is the same file as the sample list twice.fifo" twice.fifo o/ a std blk/ --groups twice.fifo

echo "== inputs that do not fit in memory, or are not text"
refuse "/dev/zero as the sample list" "cannot read sample list /dev/zero: it holds a NUL byte" /dev/zero o/ a std blk/
mkdir -p devzero && cp blk/*st_* devzero/ && ln -sf /dev/zero devzero/diagst_7.12_.csv
refuse "/dev/zero as a block file" "devzero/diagst_7.12_.csv .*: it holds a NUL byte" d/samples.txt o/ a std devzero/
refuse "/dev/zero as the groups file" "cannot read groups file /dev/zero: it holds a NUL byte" d/samples.txt o/ a std blk/ --groups /dev/zero
endless() { yes 0123456789 | tr -d '\n'; }
vlimit=400000  # KB of address space
# A memory limit leaves no room for the address sanitizer's shadow memory.
case $(cd "$bin/.." && pwd) in *asan*) vlimit="" ;; esac
if [ -n "$vlimit" ]; then
refuse "an endless line as the sample list, ulimit -v" "out of memory while reading the sample list .* \(line 1\)" <(endless) o/ a std blk/
mkdir -p oom && cp blk/*st_* oom/ && rm oom/diagst_7.12_.csv && mkfifo oom/diagst_7.12_.csv && writer oom/diagst_7.12_.csv endless
refuse "an endless line as a block file, ulimit -v" "out of memory while reading block file oom/diagst_7.12_.csv" d/samples.txt o/ a std oom/
refuse "an endless line as the groups file, ulimit -v" "out of memory while reading the groups file" d/samples.txt o/ a std blk/ --groups <(endless)
fi
vlimit=""
seq 1 1000000 > many.txt
refuse "more names than an analysis can hold" "many.txt holds more than 46340 names" many.txt o/ a std blk/
refuse "an endless list of names from a pipe" "holds more than 46340 names" <(seq 1 1000000000) o/ a std blk/

[ $fails = 0 ] || { echo "$fails case(s) failed"; exit 1; }
echo "all cases passed"
