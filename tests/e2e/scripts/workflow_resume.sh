#!/usr/bin/env bash
# An interrupted workflow completes when run again, with the same final files
# as the hand-written road, and without redoing the jobs that had finished.
# Two interruptions: Ctrl-C (SIGINT to the whole process group, as a terminal
# sends it), then a hard kill (SIGKILL, as a lost node or a killed session),
# each right after the first block jobs finish.
# Usage: bash workflow_resume.sh <bin dir> <source dir>
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/scripts/lib/workflow_lib.sh"
wf_require

tmp=$(mktemp -d)
pgid=
cleanup() {
  [ -n "$pgid" ] && kill -KILL -- "-$pgid" 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp"
wf_dataset

# Starts the workflow in the background in a process group of its own (job
# control on, which also leaves SIGINT at its default, as in a terminal) and
# stops it with signal $1 once $2 block files exist (one job at a time, so
# that most of the road is still to do).
interrupt_after() {
  local signal=$1 want=$2 i
  pgid=$(set -m; snakemake -s "$src/workflow/Snakefile" --configfile cfg.yaml --cores 1 >>run.log 2>&1 & echo $!)
  for ((i = 0; i < 2400; i++)); do
    [ "$(find wf/blocks -name '*.csv' 2>/dev/null | wc -l)" -ge "$want" ] && break
    kill -0 "$pgid" 2>/dev/null || break
    sleep 0.05
  done
  kill -"$signal" -- "-$pgid" 2>/dev/null || true
  for ((i = 0; i < 600; i++)); do
    kill -0 -- "-$pgid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL -- "-$pgid" 2>/dev/null || true
  while kill -0 -- "-$pgid" 2>/dev/null; do sleep 0.05; done
  pgid=
  [ -d wf/results/loadings ] && [ "$(ls wf/results/loadings | wc -l)" -eq 4 ] &&
    { cat run.log; echo "FAIL: the run ended before the interruption"; exit 1; }
  true
}

# The block files present now, with their modification times.
stamps() { find wf/blocks -name '*.csv' -printf '%p %T@\n' | sort; }

# 1. Ctrl-C after the first block job: snakemake stops its jobs, drops their
#    incomplete outputs and releases its lock; a plain rerun carries on.
interrupt_after INT 2
grep -q "Terminating processes on user request" run.log || { cat run.log; echo "FAIL: Ctrl-C did not stop the run"; exit 1; }
kept=$(stamps)
[ -n "$kept" ] || { cat run.log; echo "FAIL: no block file survived the interruption"; exit 1; }

# 2. A hard kill a block job later: the lock stays, and the job that was
#    running is marked incomplete; --unlock, then --rerun-incomplete.
#    A program killed while writing leaves its temporary output file, which
#    the job removes when it runs again (the comparison below sees any file).
interrupt_after KILL 4
# Plant such a temporary beside every block file still to be written.
planted=0
for run in chr1-1 chr2-2; do
  for name in diag_1.3_ diag_4.7_ diag_8.11_ rect_1.3_4.7_ rect_1.3_8.11_ rect_4.7_8.11_; do
    for kind in "" st; do
      f=wf/blocks/n11_count3/$run/${name/_/${kind}_}.csv
      [ -e "$f" ] || { mkdir -p "${f%/*}"; echo partial >"${f%/*}/.${f##*/}.tmpAbC123"; planted=$((planted + 1)); }
    done
  done
done
[ "$planted" -gt 0 ] || { echo "FAIL: the run ended before the second interruption"; exit 1; }
wf_snakemake --unlock >>run.log 2>&1
if ! wf_snakemake --cores 2 --rerun-incomplete >rerun.log 2>&1; then
  cat run.log rerun.log
  echo "FAIL: the rerun did not complete"
  exit 1
fi

wf_hand_road
wf_compare wf

# The blocks finished before the first interruption were not redone.
after=$(stamps)
while read -r line; do
  grep -qxF "$line" <<<"$after" || { echo "FAIL: $line was redone after the interruption"; exit 1; }
done <<<"$kept"
echo "PASS"
