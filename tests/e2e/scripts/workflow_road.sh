#!/usr/bin/env bash
# The Snakemake workflow on a generated dataset (3 sample blocks, 2
# chromosomes, one run per chromosome, both analyses) gives byte for byte the
# files of the hand-written road, and a second invocation has nothing to do.
# Usage: bash workflow_road.sh <bin dir> <source dir>
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/scripts/lib/workflow_lib.sh"
wf_require

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cd "$tmp"
wf_dataset

if ! wf_snakemake --cores 2 >run.log 2>&1; then
  cat run.log
  echo "FAIL: the workflow did not complete"
  exit 1
fi
# The plan comes first: blocks, jobs per stage, memory per job.
grep -q "^  blocks         3 of 3 to 4 samples (n_blocks 3)" run.log || { cat run.log; echo "FAIL: no plan printed"; exit 1; }
grep -Eq "^  crossgram +6  [0-9]+ MiB" run.log || { cat run.log; echo "FAIL: plan lacks the crossgram jobs"; exit 1; }

wf_hand_road
wf_compare wf

# Every job left its standard output in a log.
[ "$(find wf/logs -name '*.log' | wc -l)" -eq 20 ] || { find wf/logs; echo "FAIL: expected 20 job logs"; exit 1; }

# Nothing to do the second time.
wf_snakemake -n --cores 2 >again.log 2>&1
grep -q "Nothing to be done" again.log || { cat again.log; echo "FAIL: the dry run after a complete run has work to do"; exit 1; }

# A changed methylation file redoes what depends on it: chr2 descriptives and
# blocks, both eigen steps, all loadings (a mere touch redoes nothing:
# snakemake compares the checksums of small inputs).
sed -i '2s/,.*/,0.5/' data/meth/chr2/S05.csv
wf_snakemake -n -q --cores 2 >stale.log 2>&1
stats=$(sed -n '/^Job stats:/,/^total/p' stale.log)
for want in "descriptives 1" "selfgram 3" "crossgram 3" "grameigen 2" "stdweights 2" "cenweights 2"; do
  set -- $want
  echo "$stats" | grep -Eq "^$1 +$2 " || { cat stale.log; echo "FAIL: after a change to one chr2 file, expected $2 $1 job(s)"; exit 1; }
done
echo "PASS"
