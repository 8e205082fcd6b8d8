#!/usr/bin/env bash
# The workflow on a real (private, one-node) SLURM cluster with the shipped
# profile workflow/profiles/slurm, as a user without accounting runs it: the
# partition and the account (as an sbatch option) on the command line, $USER
# unset. Checks:
#  - a job whose memory estimate or time limit exceeds what its partition
#    gives is refused with a clear message before anything is submitted
#    (SLURM would keep it pending forever);
#  - a job cancelled with scancel while it runs fails the invocation, and the
#    next invocation redoes it and what depends on it, and nothing else;
#  - every program ran inside a SLURM job submitted by the workflow (the
#    cluster's job completion records, the job ids seen by the programs);
#  - the results are byte-identical to a local --cores 2 run.
# Skips (77) when snakemake, a program or the SLURM packages are missing, or
# when not run as root.
# Usage: bash workflow_slurm.sh <bin dir> <source dir>
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
. "$src/tests/e2e/scripts/lib/workflow_lib.sh"
wf_require
if [ "$(id -u)" != 0 ]; then
  echo "SKIP: the local SLURM cluster (scripts/slurm_local.sh) runs as root"
  exit 77
fi

tmp=$(mktemp -d)
cluster=
pgid=
# Processes still working in $tmp after the cluster stopped: job steps that
# escaped SLURM's process tracking (Snakemake 7.21 takes a lock in its SIGTERM
# handler, so a cancelled job's snakemake can hang; proctrack/linuxproc may
# then lose it).
leftovers() {
  local p
  for p in /proc/[0-9]*; do
    case $(readlink "$p/cwd" 2>/dev/null) in "$tmp" | "$tmp"/* | "$tmp (deleted)") echo "${p#/proc/}" ;; esac
  done
}
cleanup() {
  [ -n "$pgid" ] && kill -KILL -- "-$pgid" 2>/dev/null || true
  [ -n "$cluster" ] && bash "$src/scripts/slurm_local.sh" stop "$cluster" || true
  local left
  cd /
  left=$(leftovers)
  # shellcheck disable=SC2086
  [ -z "$left" ] || kill -KILL $left 2>/dev/null || true
  rm -rf "$tmp"
}
trap cleanup EXIT
cd "$tmp"
t0=$SECONDS
started=0
env_line=$(bash "$src/scripts/slurm_local.sh" start 2>start.log) || started=$?
if [ "$started" -eq 77 ]; then
  echo "SKIP: no local SLURM cluster: $(tail -n 1 start.log)"
  exit 77
fi
[ "$started" -eq 0 ] || { cat start.log; echo "FAIL: the local cluster did not start"; exit 1; }
eval "$env_line"
cluster=$(dirname "$SLURM_CONF")
t_start=$((SECONDS - t0))

"$bin/methgen" --out data --samples 8 --chroms 1 --sites 300 --seed 11 --constant 0.05 >/dev/null
# The SLURM runs call the programs through wrappers that note the SLURM job
# they run in; the first selfgram job, once there, leaves the temporary a
# program being killed leaves and waits to be cancelled.
mkdir slurmbin
for p in $PROGRAMS; do
  {
    echo '#!/bin/sh'
    echo "echo \"\${SLURM_JOB_ID:-none} $p\" >>$tmp/calls.txt"
    if [ "$p" = selfgram ]; then
      echo "if mkdir $tmp/held 2>/dev/null; then"
      echo "  echo partial >\"\$4.diag_\$7.\$8_.csv.tmpAbC123\""
      echo "  echo \"\$SLURM_JOB_ID \$4diag_\$7.\$8_.csv\" >$tmp/held/job.tmp && mv $tmp/held/job.tmp $tmp/held/job"
      echo "  sleep 60"
      echo "fi"
    fi
    echo "exec $bin/$p \"\$@\""
  } >slurmbin/$p
  chmod +x slurmbin/$p
done
config() { # out folder, bin folder
  cat <<EOF
meth_prefix: data/meth/
samples: data/samples.txt
chromosomes: "1"
road: blocks
n_blocks: 2
runs: per_chromosome
K: 3
analyses: [std, cen]
label: t
out: $1
groups: data/groups.tsv
bin_dir: $2
EOF
}
config wf/ "$tmp/slurmbin" >slurm.yaml
config local/ "$bin" >local.yaml

# As a CI runner: no $USER. Account and partition on the command line.
slurm_run=(env -u USER snakemake -s "$src/workflow/Snakefile" --configfile slurm.yaml
  --profile "$src/workflow/profiles/slurm")
account_args=(--default-resources runtime=10 slurm_partition=local "slurm_extra='-A methpca_test'")
records() { cat "$cluster/log/jobcomp.txt" 2>/dev/null || true; }
# "JobId State Name Account" of every finished SLURM job.
job_table() {
  records | awk '{for (i = 1; i <= NF; i++) {split($i, a, "="); v[a[1]] = a[2]}
                  print v["JobId"], v["JobState"], v["Name"], v["Account"]}'
}

# 1. Memory beyond the partition: a partition whose MaxMemPerNode (30 MiB)
#    is below every job's estimate. SLURM itself leaves such a job pending.
scontrol create PartitionName=small Nodes=ALL MaxMemPerNode=30 State=UP
probe=$(sbatch -p small --mem 40 -o /dev/null --wrap true | awk '{print $NF}')
sleep 1
reason=$(squeue -h -j "$probe" -o "%t %r")
scancel "$probe"
[ "${reason%% *}" = PD ] || { echo "FAIL: probe job over MaxMemPerNode: '$reason', expected pending"; exit 1; }
t1=$SECONDS
if timeout 120 "${slurm_run[@]}" --default-resources runtime=10 slurm_partition=small >mem1.log 2>&1; then
  cat mem1.log; echo "FAIL: a run whose jobs exceed the partition's memory limit was not refused"; exit 1
fi
grep -q "refusing to submit" mem1.log &&
  grep -Eq "^  1 descriptives job\(s\) need up to [0-9]+ MiB \(their memory estimate\), but partition small gives a job at most 30 MiB \(its MaxMemPerNode is 30 MiB\)" mem1.log ||
  { cat mem1.log; echo "FAIL: no clear message for jobs over the partition's MaxMemPerNode"; exit 1; }
#    The same for an estimate (here replaced by set-resources) above the node.
node_mem=$(scontrol show node -o | sed -n 's/.* RealMemory=\([0-9]*\) .*/\1/p')
if timeout 120 "${slurm_run[@]}" "${account_args[@]}" --set-resources "crossgram:mem_mb=$((node_mem + 1))" >mem2.log 2>&1; then
  cat mem2.log; echo "FAIL: a run with a job above the node's memory was not refused"; exit 1
fi
grep -q "^  1 crossgram job(s) need up to $((node_mem + 1)) MiB (their memory estimate), but partition local gives a job at most $node_mem MiB (its largest node has $node_mem MiB for jobs)" mem2.log ||
  { cat mem2.log; echo "FAIL: no clear message for a job above the node's memory"; exit 1; }
#    A partition whose MaxTime (1 minute) is below every job's time limit
#    (the workflow's estimate, ten minutes at the least).
scontrol create PartitionName=quick Nodes=ALL MaxTime=1 State=UP
if timeout 120 "${slurm_run[@]}" --default-resources runtime=10 slurm_partition=quick >time1.log 2>&1; then
  cat time1.log; echo "FAIL: a run whose jobs exceed the partition's MaxTime was not refused"; exit 1
fi
grep -Eq "^  1 descriptives job\(s\) ask for up to [0-9]+ minutes \(their time estimate\), but partition quick runs a job for at most 1 minutes \(its MaxTime\)" time1.log ||
  { cat time1.log; echo "FAIL: no clear message for jobs over the partition's MaxTime"; exit 1; }
[ -z "$(job_table | grep -v "^$probe ")" ] || { job_table; echo "FAIL: a refused run submitted jobs"; exit 1; }
t_mem=$((SECONDS - t1))

# 2. A run whose first selfgram job is cancelled while it runs; the retry of
#    the profile is turned off, as when a job's retries are used up.
t1=$SECONDS
set -m
"${slurm_run[@]}" "${account_args[@]}" --restart-times 0 >run1.log 2>&1 &
pgid=$!
set +m
for ((i = 0; i < 1200; i++)); do
  [ -e held/job ] && break
  kill -0 "$pgid" 2>/dev/null || break
  sleep 0.1
done
[ -e held/job ] || { cat run1.log; echo "FAIL: no selfgram job started"; exit 1; }
read -r held_id held_file <held/job
scancel "$held_id"
status=0
wait "$pgid" || status=$?
pgid=
[ "$status" -ne 0 ] || { cat run1.log; echo "FAIL: the run with a cancelled job reported success"; exit 1; }
grep -q "SLURM-job '$held_id' failed, SLURM status is: 'CANCELLED'" run1.log ||
  { cat run1.log; echo "FAIL: the cancelled job was not reported"; exit 1; }
[ ! -e "$held_file" ] || { echo "FAIL: the cancelled job's output $held_file exists"; exit 1; }
[ ! -e wf/results/t_std_eigenval.csv ] || { echo "FAIL: the eigen step ran without all its blocks"; exit 1; }
t_run1=$((SECONDS - t1))

# 3. The next invocation redoes the cancelled job and what needs it.
t1=$SECONDS
"${slurm_run[@]}" "${account_args[@]}" >run2.log 2>&1 || { cat run1.log run2.log; echo "FAIL: the rerun did not complete"; exit 1; }
t_run2=$((SECONDS - t1))
[ -s "$held_file" ] || { echo "FAIL: the rerun did not redo $held_file"; exit 1; }
[ -z "$(find wf -name '.*.tmp*')" ] || { find wf -name '.*.tmp*'; echo "FAIL: temporaries left"; exit 1; }
stats=$(sed -n '/^Job stats:/,/^total/p' run2.log)
for want in "selfgram 1" "grameigen 2" "weights 1" "total 5"; do
  set -- $want
  echo "$stats" | grep -Eq "^$1 +$2 " || { echo "$stats"; echo "FAIL: the rerun should run $2 $1 job(s)"; exit 1; }
done
echo "$stats" | grep -Eq "^(descriptives|crossgram) " && { echo "$stats"; echo "FAIL: the rerun redid finished jobs"; exit 1; }

# 4. Every job went through sbatch: each one snakemake submitted (4 + 4,
#    "all" is local) has a completion record of the cluster, with its
#    account; every program ran inside one of them, once per job.
submitted=$(cat run1.log run2.log | sed -n 's/.* has been submitted with SLURM jobid \([0-9]*\) .*/\1/p' | sort -n)
[ "$(echo "$submitted" | wc -l)" -eq 8 ] || { echo "$submitted"; echo "FAIL: expected 8 submissions"; exit 1; }
table=$(job_table | grep -v "^$probe ")
[ "$(echo "$table" | awk '{print $1}' | sort -n)" = "$submitted" ] ||
  { echo "$table"; echo "$submitted"; echo "FAIL: the cluster's job records differ from the submissions"; exit 1; }
[ "$(echo "$table" | awk '$2 == "COMPLETED" && $4 == "methpca_test"' | wc -l)" -eq 7 ] &&
  [ "$(echo "$table" | awk '$2 == "CANCELLED" {print $1}')" = "$held_id" ] ||
  { echo "$table"; echo "FAIL: expected 7 completed jobs of account methpca_test and the cancelled one"; exit 1; }
[ "$(awk '{print $1}' calls.txt | sort -n)" = "$submitted" ] ||
  { cat calls.txt; echo "FAIL: the programs did not run one per submitted SLURM job"; exit 1; }
for want in "descriptives 1" "selfgram 3" "crossgram 1" "grameigen 2" "weights 1"; do
  set -- $want
  [ "$(awk -v p="$1" '$2 == p' calls.txt | wc -l)" -eq "$2" ] || { cat calls.txt; echo "FAIL: expected $2 $1 call(s)"; exit 1; }
done

# 5. The same files as a local run, and nothing left to do.
t1=$SECONDS
snakemake -s "$src/workflow/Snakefile" --configfile local.yaml --cores 2 >local.log 2>&1 ||
  { cat local.log; echo "FAIL: the local run did not complete"; exit 1; }
t_local=$((SECONDS - t1))
for d in des blocks results; do
  diff -r "local/$d" "wf/$d" || { echo "FAIL: wf/$d differs from the local run's"; exit 1; }
done
"${slurm_run[@]}" "${account_args[@]}" -n >again.log 2>&1
grep -q "Nothing to be done" again.log || { cat again.log; echo "FAIL: work left after the rerun"; exit 1; }

echo "times (s): cluster start $t_start, refusals $t_mem, run with cancel $t_run1," \
  "rerun $t_run2, local run $t_local, total $((SECONDS - t0))"
echo "PASS"
