#!/usr/bin/env bash
# The Snakemake workflow on a generated dataset (2 chromosomes, both
# analyses) gives byte for byte the files of the hand-written road, on both
# roads: the block road (3 sample blocks, one run per chromosome) and the
# one-reading road (fullgram, one run per chromosome, then one run of both
# against the hand-written road with that run); a second invocation has
# nothing to do, and a changed input redoes what depends on it.
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

# Every job left its standard output in a log: 2 descriptives, 6 selfgram,
# 6 crossgram, 2 grameigen, 2 weights.
[ "$(find wf/logs -name '*.log' | wc -l)" -eq 18 ] || { find wf/logs; echo "FAIL: expected 18 job logs"; exit 1; }

# Nothing to do the second time.
wf_snakemake -n --cores 2 >again.log 2>&1
grep -q "Nothing to be done" again.log || { cat again.log; echo "FAIL: the dry run after a complete run has work to do"; exit 1; }

# A changed methylation file redoes what depends on it: chr2 descriptives and
# blocks, both eigen steps, all loadings (a mere touch redoes nothing:
# snakemake compares the checksums of small inputs).
sed -i '2s/,.*/,0.5/' data/meth/chr2/S05.csv
wf_snakemake -n -q --cores 2 >stale.log 2>&1
wf_job_counts stale.log "descriptives 1" "selfgram 3" "crossgram 3" "grameigen 2" "weights 2"

# The one-reading road, a run per chromosome: fullgram per chromosome, the
# eigen step over both runs' whole-matrix blocks. The hand-written road is
# redone on the changed data.
rm -rf hand
wf_hand_road
sed 's/^road: blocks/road: auto/; s#^out: wf/#out: one/#' cfg.yaml >one.yaml
if ! snakemake -s "$src/workflow/Snakefile" --configfile one.yaml --cores 2 >one.log 2>&1; then
  cat one.log
  echo "FAIL: the one-reading road did not complete"
  exit 1
fi
grep -q "^  road           one_reading (auto)" one.log || { cat one.log; echo "FAIL: auto did not take the one-reading road"; exit 1; }
wf_job_counts one.log "fullgram_chr1_1 1" "fullgram_chr2_2 1" "grameigen 2" "weights 2"
wf_compare_results hand one
[ -z "$(find one -name 'rect*')" ] || { echo "FAIL: the one-reading road wrote off-diagonal blocks"; exit 1; }
snakemake -s "$src/workflow/Snakefile" --configfile one.yaml -n --cores 2 >one_again.log 2>&1
grep -q "Nothing to be done" one_again.log || { cat one_again.log; echo "FAIL: the one-reading road has work left after a complete run"; exit 1; }
sed -i '3s/,.*/,0.25/' data/meth/chr1/S02.csv
snakemake -s "$src/workflow/Snakefile" --configfile one.yaml -n -q --cores 2 >one_stale.log 2>&1
wf_job_counts one_stale.log "fullgram_chr1_1 1" "grameigen 2" "weights 2"
grep -q "^fullgram_chr2_2 " one_stale.log && { cat one_stale.log; echo "FAIL: a change on chr1 redoes chr2's fullgram job"; exit 1; }

# One run of both chromosomes (the default runs), with programs that lack
# weights (the weights jobs run stdweights and cenweights), against the
# block road by hand over the same run.
mkdir -p oldbin
for p in $PROGRAMS; do [ $p = weights ] || ln -s "$bin/$p" oldbin/$p; done
sed '/^runs:/d; /^road:/d; s#^out: wf/#out: all/#; s#^bin_dir: .*#bin_dir: oldbin#' cfg.yaml >all.yaml
if ! snakemake -s "$src/workflow/Snakefile" --configfile all.yaml --cores 2 >all.log 2>&1; then
  cat all.log
  echo "FAIL: the one-reading road over one run did not complete"
  exit 1
fi
grep -q "^  runs           1: chr1-2" all.log || { cat all.log; echo "FAIL: the runs are not one of all chromosomes by default"; exit 1; }
grep -q "no program weights in .*oldbin: the weights jobs run stdweights and cenweights" all.log ||
  { cat all.log; echo "FAIL: no note of the missing weights program"; exit 1; }
wf_hand_road_one_run
wf_compare_results hand_all all
cmp -s all/blocks/n11_full/chr1-2/diag_1.11_.csv one/blocks/n11_full/chr1-1/diag_1.11_.csv &&
  { echo "FAIL: the run of both chromosomes gave the block of chromosome 1 alone"; exit 1; }

# One analysis: its own loadings program per chromosome, no weights job.
sed 's/^analyses: .*/analyses: [cen]/; s#^out: all/#out: cen/#' all.yaml >cen.yaml
snakemake -s "$src/workflow/Snakefile" --configfile cen.yaml -n -q --cores 2 >cen.log 2>&1 ||
  { cat cen.log; echo "FAIL: no plan for one analysis"; exit 1; }
wf_job_counts cen.log "fullgram_chr1_2 1" "grameigen 1" "cenweights 2"
grep -Eq "^(weights|stdweights) " cen.log && { cat cen.log; echo "FAIL: jobs of the other analysis"; exit 1; }
echo "PASS"
