#!/usr/bin/env bash
# Runs every fuzz target (or those named) for a given number of inputs, after
# replaying its regression inputs. New inputs go to a scratch corpus; the
# seeds in fuzz/corpus/ are left as they are. Builds the targets first.
# Usage: fuzz/run.sh <runs-per-target> [target ...]
#   FUZZ_MAX_TIME=<s>  caps each target's fuzzing time as well
#   FUZZ_MAX_LEN=<n>   longest input (default 4096)
#   FUZZ_KEEP=<dir>    keeps the scratch corpora and logs in <dir>
# A finding stops the script with status 1; the crashing input lands in
# build-fuzz/findings/<target>/ (copy it to fuzz/regressions/<target>/ once
# the reader is fixed).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
runs=${1:?usage: fuzz/run.sh <runs-per-target> [target ...]}
shift
bin=${FUZZ_BUILD_DIR:-$root/build-fuzz}/bin
"$root/fuzz/build.sh" "$@" >/dev/null
if [ $# -gt 0 ]; then targets=("$@"); else
  targets=(); for b in "$bin"/fuzz_*; do targets+=("${b##*/fuzz_}"); done
fi
work=${FUZZ_KEEP:-$(mktemp -d)}
[ -n "${FUZZ_KEEP:-}" ] || trap 'rm -rf "$work"' EXIT
mkdir -p "$work"
findings=${FUZZ_BUILD_DIR:-$root/build-fuzz}/findings

status=0
for t in "${targets[@]}"; do
  exe=$bin/fuzz_$t
  regs=$root/fuzz/regressions/$t
  if [ -d "$regs" ] && [ -n "$(ls -A "$regs")" ]; then
    if ! "$exe" "$regs"/* >"$work/$t.replay.log" 2>&1; then
      echo "$t: a regression input fails again"; tail -30 "$work/$t.replay.log"; status=1; continue
    fi
  fi
  mkdir -p "$work/$t.corpus" "$findings/$t"
  opts=(-runs="$runs" -max_len="${FUZZ_MAX_LEN:-4096}" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$findings/$t/")
  [ -n "${FUZZ_MAX_TIME:-}" ] && opts+=(-max_total_time="$FUZZ_MAX_TIME")
  [ -f "$root/fuzz/$t.dict" ] && opts+=(-dict="$root/fuzz/$t.dict")
  start=$(date +%s)
  if "$exe" "${opts[@]}" "$work/$t.corpus" "$root/fuzz/corpus/$t" >"$work/$t.log" 2>&1; then
    done_runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$t.log" | tail -1)
    echo "$t: ${done_runs:-?} inputs in $(( $(date +%s) - start )) s, no finding"
  else
    echo "$t: FINDING (log below; input in $findings/$t/)"
    grep -E 'FINDING|ERROR|SUMMARY|runtime error|Test unit written' "$work/$t.log" | head -20
    status=1
  fi
done
exit $status
