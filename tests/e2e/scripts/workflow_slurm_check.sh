#!/usr/bin/env bash
# The memory check of workflow/slurm_check.py on the "scontrol show partition
# -o" and "show node -o" lines of a cluster with several partitions and node
# sizes (no cluster needed): the limit of a partition is its largest node's
# RealMemory less MemSpecLimit, capped by MaxMemPerNode; jobs without a
# partition go to the default one; one line per rule and partition at fault.
# Likewise the time check: a job's runtime against its partition's MaxTime.
# Usage: bash workflow_slurm_check.sh <bin dir> <source dir>
set -euo pipefail
src=$(cd "$2" && pwd)
command -v python3 >/dev/null || { echo "SKIP: no python3"; exit 77; }
PYTHONPATH="$src/workflow" python3 - <<'EOF'
import slurm_check as sc

partitions = """\
PartitionName=short AllowGroups=ALL Default=YES MaxMemPerNode=UNLIMITED Nodes=n[1-2] State=UP
PartitionName=big Default=NO MaxMemPerNode=UNLIMITED Nodes=n[2-3] State=UP
PartitionName=capped Default=NO MaxMemPerNode=3000 Nodes=n3 State=UP
PartitionName=empty Default=NO Nodes=(null) State=UP
"""
nodes = """\
NodeName=n1 CPUTot=8 OS=Linux 6.1 #1 SMP RealMemory=4000 AllocMem=0 Partitions=short State=IDLE
NodeName=n2 CPUTot=8 RealMemory=8000 MemSpecLimit=1000 Partitions=short,big State=MIXED
NodeName=n3 CPUTot=8 RealMemory=64000 Partitions=big,capped State=IDLE
"""
limits, default = sc.memory_limits(partitions, nodes)
assert default == "short", default
assert limits["short"] == (7000, "its largest node has 7000 MiB for jobs"), limits["short"]
assert limits["big"][0] == 64000, limits["big"]
assert limits["capped"] == (3000, "its MaxMemPerNode is 3000 MiB"), limits["capped"]
assert limits["empty"][0] == 0, limits["empty"]

jobs = [("selfgram", "", 7000), ("selfgram", "short", 7001), ("selfgram", "", 9000),
        ("crossgram", "big", 64000), ("crossgram", "capped", 3500), ("grameigen", "elsewhere", 10**6),
        ("descriptives", "", 100)]
faults = sc.memory_faults(jobs, limits, default)
assert faults == [
    "1 crossgram job(s) need up to 3500 MiB (their memory estimate), but partition capped"
    " gives a job at most 3000 MiB (its MaxMemPerNode is 3000 MiB)",
    "2 selfgram job(s) need up to 9000 MiB (their memory estimate), but partition short"
    " gives a job at most 7000 MiB (its largest node has 7000 MiB for jobs)",
], faults
assert sc.memory_faults([("x", "", 10)], {}, None) == []

# Time limits: MaxTime in SLURM's forms; jobs above it refused per rule and partition
for text, minutes in [("UNLIMITED", None), ("INFINITE", None), ("30", 30), ("30:01", 31), ("02:00:00", 120),
                      ("1-00", 1440), ("1-02:30", 1590), ("2-00:00:30", 2881), ("", None), ("soon", None)]:
    assert sc.slurm_minutes(text) == minutes, (text, sc.slurm_minutes(text))
times = sc.time_limits("PartitionName=short Default=YES MaxTime=01:00:00\n"
                       "PartitionName=long MaxTime=7-00:00:00\nPartitionName=any MaxTime=UNLIMITED\n")
assert times == {"short": 60, "long": 10080}, times
faults = sc.time_faults([("fullgram_chr1_22", "", 66), ("fullgram_chr1_22", "short", 90), ("weights", "", 60),
                         ("fullgram_chr1_22", "long", 9000), ("crossgram", "any", 10**6)], times, "short")
assert faults == ["2 fullgram_chr1_22 job(s) ask for up to 90 minutes (their time estimate), but partition"
                  " short runs a job for at most 60 minutes (its MaxTime)"], faults
EOF
echo "PASS"
