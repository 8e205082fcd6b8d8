#!/usr/bin/env bash
# A standard output that fails: closed (>&-), a pipe whose reader is gone,
# a full device (/dev/full), and `| head -c1`. Every program of the road must
# still write its results, byte for byte those of a normal run, end with
# status 0 and say on standard error, in one line, that its messages were
# lost. A run that fails with standard output closed must give its message on
# standard error.
set -u
bin=$1 src=$2
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"

prepare() {  # program folder
  rm -rf "$2"
  mkdir -p "$2"
  case $1 in
    stdweights | cenweights) mkdir -p "$2/loadings"; cp "$work/res/pca_eigenval.csv" "$work/res/pca_eigenvec.csv" "$2/" ;;
  esac
}

# A pipe without reader on descriptor 6: a FIFO opened for reading and
# writing, then for writing, then the reading end closed.
mkfifo "$work/fifo"

progs="descriptives selfgram crossgram grameigen stdweights cenweights"
# fullgram: descriptives prefix and block prefix both the output folder.
run_fullgram() { echo "\"$bin/fullgram\" \"$work/d/meth/\" \"$work/d/samples.txt\" \"$1\" \"$1\" 1 2"; }
[ -x "$bin/fullgram" ] && progs+=" fullgram"
for p in $progs; do
  ref=$work/ref_$p
  prepare $p "$ref"
  eval "$(run_$p "$ref/")" > "$work/ref.out" 2>&1 || { echo "FAIL $p: the normal run failed"; fail_count=$((fail_count + 1)); continue; }

  for how in closed broken full head; do
    o=$work/out_${p}_$how
    prepare $p "$o"
    cmd=$(run_$p "$o/")
    status=0
    case $how in
      closed) ( eval "$cmd" ) >&- 2> "$work/err"; status=$? ;;
      full) ( eval "$cmd" ) > /dev/full 2> "$work/err"; status=$? ;;
      broken)
        exec 5<> "$work/fifo" 6> "$work/fifo"
        exec 5<&-
        ( eval "$cmd" ) >&6 2> "$work/err"; status=$?
        exec 6>&- ;;
      head) ( eval "$cmd" ) 2> "$work/err" | head -c1 > /dev/null; status=${PIPESTATUS[0]} ;;
    esac
    bad=""
    [ $status = 0 ] || bad+=" status $status;"
    diff -r "$ref" "$o" > /dev/null || bad+=" results differ from a normal run's;"
    left=$(find "$o" -name '.*.tmp*')
    [ -z "$left" ] || bad+=" temporary left: $left;"
    lines=$(wc -l < "$work/err")
    if [ $how = head ]; then  # the run may end before head does
      [ "$lines" -le 1 ] || bad+=" standard error: $(head -3 "$work/err" | tr '\n' '|');"
    else
      [ "$lines" = 1 ] && grep -q "^$p: standard output failed (.*); its messages were lost" "$work/err" ||
        bad+=" standard error is not the one line: $(head -3 "$work/err" | tr '\n' '|');"
    fi
    if [ -n "$bad" ]; then
      echo "FAIL $p, standard output $how:$bad"
      fail_count=$((fail_count + 1))
    else
      echo "ok   $p, standard output $how: results written, status 0, $(head -1 "$work/err")"
    fi
  done
done

# A failing run whose standard output is closed: the cause on standard error.
o=$work/fail_closed
prepare descriptives "$o"
"$bin/descriptives" "$work/d/meth/" "$work/no_such_list" "$o/" 1 >&- 2> "$work/err"
status=$?
if [ $status = 255 ] && grep -q "no_such_list" "$work/err" && grep -q "standard output failed (it is closed)" "$work/err"; then
  echo "ok   descriptives fails with standard output closed: status 255, cause on standard error"
else
  echo "FAIL descriptives fails with standard output closed: status $status, standard error: $(tr '\n' '|' < "$work/err")"
  fail_count=$((fail_count + 1))
fi

# A normal run: standard error stays empty.
o=$work/normal
prepare descriptives "$o"
eval "$(run_descriptives "$o/")" > /dev/null 2> "$work/err"
if [ -s "$work/err" ]; then
  echo "FAIL normal run wrote to standard error: $(head -3 "$work/err")"
  fail_count=$((fail_count + 1))
fi
faults_finish
