#!/usr/bin/env bash
# Runs one end-to-end case (see README.md beside this file) and compares
# standard output, exit status, standard error (empty) and the working tree.
set -u
bin=$1 case=$2 update=${3:-}
bin=$(cd "$bin" && pwd)
case=$(cd "$case" && pwd)
work=$(mktemp -d)
trap 'chmod -R u+rwX "$work" 2>/dev/null; rm -rf "$work"' EXIT
mkdir -p "$work/run"
[ -d "$case/in" ] && cp -a "$case/in/." "$work/run/"

mapfile -t argv < "$case/args"
prog=${argv[0]}
args=("${argv[@]:1}")

mask() { sed -E 's/^(Seconds used since reading methylation files: ).*/\1<time>/'; }

(
  cd "$work/run" || exit 99
  [ -f "$case/pre" ] && . "$case/pre"
  exec "$bin/$prog" "${args[@]}"
) > "$work/stdout" 2> "$work/stderr" < /dev/null
status=$?
chmod -R u+rwX "$work/run" 2>/dev/null

if [ "$update" = "--update" ]; then
  mkdir -p "$case/expected"
  mask < "$work/stdout" > "$case/expected/stdout"
  echo "$status" > "$case/expected/status"
  rm -rf "$case/expected/tree"
  cp -a "$work/run" "$case/expected/tree"
  echo "updated $case"
  exit 0
fi

fail=0
if ! diff <(mask < "$work/stdout") "$case/expected/stdout" > "$work/diff"; then
  echo "stdout differs (< got, > expected):"; cat "$work/diff"; fail=1
fi
want=$(cat "$case/expected/status")
if [ "$status" != "$want" ]; then echo "exit status $status, expected $want"; fail=1; fi
if [ -s "$work/stderr" ]; then echo "standard error is not empty:"; head -20 "$work/stderr"; fail=1; fi
mkdir -p "$case/expected/tree"
if ! diff -r "$work/run" "$case/expected/tree" > "$work/diff"; then
  echo "working tree differs (first: got, second: expected):"; head -40 "$work/diff"; fail=1
fi
[ $fail = 0 ] && echo "ok $case"
exit $fail
