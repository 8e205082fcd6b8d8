# Shared by tests/e2e/scripts/faults_*.sh: a small data set taken through the
# whole road once, and a check that a failing run says why, ends non-zero,
# writes nothing to standard error, leaves no temporary file and keeps an
# earlier result of the same name.
#
# After faults_setup: $work/d (methgen output: meth/, samples.txt), $work/des/,
# $work/blocks/, $work/res/ (eigen files and loadings/), all from good runs.

fail_count=0
skip_notes=()

faults_setup() {
  bin=$1
  work=$(mktemp -d)
  trap 'faults_cleanup' EXIT
  "$bin/methgen" --out "$work/d" --samples 12 --chroms 2 --sites 300 > /dev/null || { echo "methgen failed"; exit 1; }
  mkdir -p "$work/des" "$work/blocks" "$work/res/loadings"
  local c
  for c in 1 2; do
    "$bin/descriptives" "$work/d/meth/" "$work/d/samples.txt" "$work/des/" $c > /dev/null || { echo "setup: descriptives"; exit 1; }
  done
  "$bin/selfgram" "$work/d/meth/" "$work/d/samples.txt" "$work/des/" "$work/blocks/" 1 2 1 6 > /dev/null &&
  "$bin/selfgram" "$work/d/meth/" "$work/d/samples.txt" "$work/des/" "$work/blocks/" 1 2 7 12 > /dev/null &&
  "$bin/crossgram" "$work/d/meth/" "$work/d/samples.txt" "$work/des/" "$work/blocks/" 1 2 1 6 7 12 > /dev/null ||
    { echo "setup: selfgram/crossgram"; exit 1; }
  if [ -x "$bin/grameigen" ]; then
    "$bin/grameigen" "$work/d/samples.txt" "$work/res/" pca std "$work/blocks/" > /dev/null || { echo "setup: grameigen"; exit 1; }
  else
    echo "grameigen not built"; exit 1
  fi
  "$bin/stdweights" "$work/d/meth/" "$work/des/" "$work/res/" pca 3 1 > /dev/null &&
  "$bin/cenweights" "$work/d/meth/" "$work/des/" "$work/res/" pca 3 1 > /dev/null || { echo "setup: loadings"; exit 1; }
}

faults_cleanup() {
  local m
  for m in "${mounts[@]:-}"; do [ -n "$m" ] && umount "$m" 2>/dev/null; done
  chmod -R u+rwx "$work" 2>/dev/null
  rm -rf "$work"
}
mounts=()

# expect_failure <label> <message regex> <output file or -> <command...>
# The command runs in a subshell (so a `ulimit` given as part of it stays
# there); `-` as output file: no earlier result to check.
expect_failure() {
  local label=$1 regex=$2 target=$3
  shift 3
  local earlier=""
  if [ "$target" != - ] && [ -f "$target" ]; then earlier=$(mktemp); cp "$target" "$earlier"; fi
  local status=0
  # Standard output through a pipe: a file-size limit must hit the output
  # file, not the captured messages.
  ( eval "$@" ) 2> "$work/stderr" | cat > "$work/stdout"
  status=${PIPESTATUS[0]}
  local bad=""
  [ $status -ne 0 ] || bad+=" status 0;"
  grep -Eq -- "$regex" "$work/stdout" || bad+=" message not matching /$regex/;"
  [ -s "$work/stderr" ] && bad+=" standard error not empty;"
  local tmps
  tmps=$(find "$work" -name '.*.tmp*' 2>/dev/null)
  [ -z "$tmps" ] || bad+=" temporary file left: $tmps;"
  if [ -n "$earlier" ]; then
    cmp -s "$earlier" "$target" || bad+=" earlier result changed;"
    rm -f "$earlier"
  fi
  if [ -n "$bad" ]; then
    echo "FAIL $label:$bad"
    echo "  stdout: $(tail -3 "$work/stdout" | tr '\n' '|')"
    echo "  stderr: $(head -3 "$work/stderr" | tr '\n' '|')"
    fail_count=$((fail_count + 1))
  else
    echo "ok   $label: status $status, $(tail -1 "$work/stdout")"
  fi
}

skip() { echo "skip $1"; skip_notes+=("$1"); }

faults_finish() {
  if [ $fail_count -gt 0 ]; then echo "$fail_count fault case(s) failed"; exit 1; fi
  echo "all fault cases passed (${#skip_notes[@]} skipped)"
  exit 0
}

# Commands of the programs with the setup's arguments; the output location
# (descriptives prefix, block prefix, results prefix) is the argument.
run_descriptives() { echo "\"$bin/descriptives\" \"$work/d/meth/\" \"$work/d/samples.txt\" \"$1\" 1"; }
run_selfgram() { echo "\"$bin/selfgram\" \"$work/d/meth/\" \"$work/d/samples.txt\" \"$work/des/\" \"$1\" 1 2 1 12"; }
run_crossgram() { echo "\"$bin/crossgram\" \"$work/d/meth/\" \"$work/d/samples.txt\" \"$work/des/\" \"$1\" 1 2 1 12 1 12"; }
run_grameigen() { echo "\"$bin/grameigen\" \"$work/d/samples.txt\" \"$1\" pca std \"$work/blocks/\""; }
run_stdweights() { echo "\"$bin/stdweights\" \"$work/d/meth/\" \"$work/des/\" \"$1\" pca 3 1"; }
run_cenweights() { echo "\"$bin/cenweights\" \"$work/d/meth/\" \"$work/des/\" \"$1\" pca 3 1"; }
