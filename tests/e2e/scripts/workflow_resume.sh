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

# Block files the log $1 reports finished: a job's outputs count once
# snakemake has printed "Finished job N." for it, which it does after clearing
# the job's incomplete mark. A file can exist a moment earlier (the program has
# renamed it into place but snakemake has not yet taken note of the job's end);
# interrupted then, the job is rightly redone by --rerun-incomplete.
finished_blocks() {
  awk '/^rule /{out = ""}
       /^    output: /{sub(/^    output: /, ""); out = $0}
       /^    jobid: /{jobs[$2] = out}
       /^Finished job /{n = $3; sub(/\.$/, "", n); print jobs[n]}' "$1" |
    tr ',' '\n' | sed 's/^ *//' | grep '^wf/blocks/' | sort -u || true
}

# Starts the workflow in the background in a process group of its own (job
# control on, which also leaves SIGINT at its default, as in a terminal),
# logging to $2, and stops it with signal $1 as soon as command $3 succeeds
# (one job at a time, so that most of the road is still to do).
interrupt_after() {
  local signal=$1 log=$2 ready=$3 i
  pgid=$(set -m; snakemake -s "$src/workflow/Snakefile" --configfile cfg.yaml --cores 1 >"$log" 2>&1 & echo $!)
  for ((i = 0; i < 2400; i++)); do
    $ready && break
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
    { cat "$log"; echo "FAIL: the run ended before the interruption"; exit 1; }
  true
}
one_job_finished() { [ "$(finished_blocks run1.log | wc -l)" -ge 2 ]; }
four_block_files() { [ "$(find wf/blocks -name '*.csv' 2>/dev/null | wc -l)" -ge 4 ]; }

# The block files of finished jobs, with their modification times.
stamps() {
  local f
  for f in $(finished_blocks run1.log); do
    if [ -e "$f" ]; then find "$f" -printf '%p %T@\n'; fi
  done
}

# 1. Ctrl-C after the first block job: snakemake stops its jobs, drops their
#    incomplete outputs and releases its lock; a plain rerun carries on.
interrupt_after INT run1.log one_job_finished
grep -q "Terminating processes on user request" run1.log || { cat run1.log; echo "FAIL: Ctrl-C did not stop the run"; exit 1; }
kept=$(stamps)
[ -n "$kept" ] || { cat run1.log; echo "FAIL: no block file survived the interruption"; exit 1; }

# 2. A hard kill a block job later: the lock stays, and the job that was
#    running is marked incomplete; --unlock, then --rerun-incomplete.
#    A program killed while writing leaves its temporary output file, which
#    the job removes when it runs again (the comparison below sees any file).
interrupt_after KILL run2.log four_block_files
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
wf_snakemake --unlock >unlock.log 2>&1
if ! wf_snakemake --cores 2 --rerun-incomplete >rerun.log 2>&1; then
  cat run1.log run2.log unlock.log rerun.log
  echo "FAIL: the rerun did not complete"
  exit 1
fi

wf_hand_road
wf_compare wf

# The block jobs finished before the first interruption were not redone.
after=$(stamps)
while read -r line; do
  grep -qxF "$line" <<<"$after" || { echo "FAIL: $line was redone after the interruption"; exit 1; }
done <<<"$kept"
echo "PASS"
