#!/usr/bin/env bash
# Wrong command lines: every program names the argument that is wrong
# (missing, one too many, out of range) in one line with the usage, ends with
# status 255 (methgen: 2), writes nothing and leaves standard error empty.
set -u
bin=$1 src=$2
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"

o=$work/args_out
mkdir -p "$o/loadings"
cp "$work/res/pca_eigenval.csv" "$work/res/pca_eigenvec.csv" "$o/"
m=$work/d/meth/ s=$work/d/samples.txt

# expect_argument_error <label> <regex> <command...>: also checks that the
# message is a single line holding the usage and that nothing new is in $o.
expect_argument_error() {
  local label=$1 regex=$2
  shift 2
  local before
  before=$(ls -A "$o" "$o/loadings")
  expect_failure "$label" "$regex" - "$@"
  local lines
  lines=$(wc -l < "$work/stdout")
  if [ "$lines" != 1 ] || ! grep -q "usage: " "$work/stdout"; then
    echo "FAIL $label: not one line with the usage: $(tr '\n' '|' < "$work/stdout")"
    fail_count=$((fail_count + 1))
  fi
  [ "$(ls -A "$o" "$o/loadings")" = "$before" ] || { echo "FAIL $label: wrote a file"; fail_count=$((fail_count + 1)); }
}

expect_argument_error "descriptives, chromosome missing" \
  "^descriptives: missing argument 4 <chromosome>; usage: descriptives " "\"$bin/descriptives\" $m $s $o/"
expect_argument_error "descriptives, two missing" \
  "missing arguments 3 <descriptives prefix>, 4 <chromosome>;" "\"$bin/descriptives\" $m $s"
expect_argument_error "descriptives, one too many" \
  "^descriptives: argument 5 \"2\" is one too many \(4 are taken\); usage: " "\"$bin/descriptives\" $m $s $o/ 1 2"
expect_argument_error "selfgram, last sample missing" \
  "^selfgram: missing argument 8 <last sample>; usage: " "\"$bin/selfgram\" $m $s $work/des/ $o/ 1 2 1"
expect_argument_error "selfgram, one too many" \
  "^selfgram: argument 9 \"7\" is one too many" "\"$bin/selfgram\" $m $s $work/des/ $o/ 1 2 1 6 7"
expect_argument_error "crossgram, column block missing" \
  "^crossgram: missing arguments 9 <first column sample>, 10 <last column sample>; usage: " \
  "\"$bin/crossgram\" $m $s $work/des/ $o/ 1 2 1 6"
expect_argument_error "crossgram, one too many" \
  "^crossgram: argument 11 \"x\" is one too many" "\"$bin/crossgram\" $m $s $work/des/ $o/ 1 2 1 6 7 12 x"
if [ -x "$bin/fullgram" ]; then
  expect_argument_error "fullgram, last chromosome missing" \
    "^fullgram: missing argument 6 <last chromosome>; usage: " "\"$bin/fullgram\" $m $s $o/ $o/ 1"
  expect_argument_error "fullgram, one too many" \
    "^fullgram: argument 7 \"3\" is one too many" "\"$bin/fullgram\" $m $s $o/ $o/ 1 2 3"
fi
expect_argument_error "grameigen, block prefix missing" \
  "^grameigen: missing argument 5 <block prefix>; usage: " "\"$bin/grameigen\" $s $o/ pca std"
for p in stdweights cenweights; do
  expect_argument_error "$p, K below 0" \
    "^$p: argument 5 <components K >= 0> is \"-3\", below 0; usage: $p " "\"$bin/$p\" $m $work/des/ $o/ pca -3 1"
  expect_argument_error "$p, chromosome missing" \
    "^$p: missing argument 6 <chromosome N>; usage: " "\"$bin/$p\" $m $work/des/ $o/ pca 3"
  expect_argument_error "$p, one too many" \
    "^$p: argument 7 \"2\" is one too many \(6 are taken\)" "\"$bin/$p\" $m $work/des/ $o/ pca 3 1 2"
done
expect_argument_error "methgen, option without value" \
  "^methgen: option --sites needs a value; usage: " "\"$bin/methgen\" --out $o/g --samples 3 --chroms 1 --sites"
expect_argument_error "methgen, unknown option" \
  "^methgen: unknown option \"--site\"; usage: " "\"$bin/methgen\" --out $o/g --samples 3 --chroms 1 --site 5"
expect_argument_error "methgen, required option missing" \
  "^methgen: option --chroms is missing; usage: " "\"$bin/methgen\" --out $o/g --samples 3 --sites 5"
faults_finish
