"""What the workflow does before a SLURM run (snakemake --slurm) submits its
first job:

- sets $USER when it is unset (a CI runner, a bare "env -i"): Snakemake 7's
  SLURM executor reads it to find or check the account and fails without it;
- refuses the run when a job's memory estimate (its mem_mb, after any
  --set-resources) exceeds what every node of the job's partition can give
  one job. SLURM refuses such a job at sbatch when no node has the memory,
  but keeps it pending forever (reason MaxMemPerLimit) when the partition's
  MaxMemPerNode is below it; either way the run could not finish;
- refuses it likewise when a job's time limit (its runtime, minutes, which
  the workflow estimates per job) exceeds its partition's MaxTime: SLURM
  refuses such a job or keeps it pending (reason PartitionTimeLimit).

Called from the Snakefile's onstart hook; does nothing on other executors.
"""

import getpass
import os
import re
import subprocess
import sys


def slurm_executor(workflow):
    """True when this run submits its jobs with Snakemake's SLURM executor."""
    scheduler = getattr(workflow, "scheduler", None)
    executor = getattr(scheduler, "_executor", None)
    return type(executor).__name__ == "SlurmExecutor"


def records(text):
    """The "key=value ..." records of "scontrol show ... -o", one per line."""
    return [dict(re.findall(r"(\w+)=(\S*)", line)) for line in text.splitlines() if line.strip()]


def memory_limits(partitions_text, nodes_text):
    """Largest memory (MiB) one job may ask for in each partition, and the
    default partition: the largest RealMemory - MemSpecLimit of the
    partition's nodes, capped by its MaxMemPerNode. Returns (limits, default),
    limits a dict name -> (MiB, reason)."""
    node_mem = {}
    for node in records(nodes_text):
        try:
            mem = int(node.get("RealMemory", "0")) - int(node.get("MemSpecLimit", "0") or 0)
        except ValueError:
            continue
        for part in node.get("Partitions", "").split(","):
            if part and mem > node_mem.get(part, -1):
                node_mem[part] = mem
    limits, default = {}, None
    for part in records(partitions_text):
        name = part.get("PartitionName")
        if not name:
            continue
        if part.get("Default") == "YES":
            default = name
        mem = node_mem.get(name, 0)
        limit = (mem, f"its largest node has {mem} MiB for jobs")
        cap = part.get("MaxMemPerNode", "UNLIMITED")
        if cap.isdigit() and int(cap) < mem:
            limit = (int(cap), f"its MaxMemPerNode is {cap} MiB")
        limits[name] = limit
    return limits, default


def over_limits(jobs, limits, default):
    """(rule, partition) -> (jobs, largest ask) of the jobs asking more than
    their partition's limit; jobs is a list of (rule, partition or "", ask),
    limits a dict partition -> limit. Jobs without a partition go to the
    default one; partitions without a limit are not checked."""
    worst = {}
    for rule, part, ask in jobs:
        part = part or default
        if part in limits and ask > limits[part]:
            count, top = worst.get((rule, part), (0, 0))
            worst[(rule, part)] = (count + 1, max(top, ask))
    return sorted(worst.items())


def memory_faults(jobs, limits, default):
    """One line per rule and partition whose jobs ask for more memory than
    the partition gives; jobs is a list of (rule, partition or "", mem_mb)."""
    mib = {part: limit for part, (limit, _) in limits.items()}
    return [f"{count} {rule} job(s) need up to {top} MiB (their memory estimate), but partition "
            f"{part} gives a job at most {limits[part][0]} MiB ({limits[part][1]})"
            for (rule, part), (count, top) in over_limits(jobs, mib, default)]


def slurm_minutes(text):
    """A SLURM time ("MM", "MM:SS", "HH:MM:SS", "D-HH", "D-HH:MM",
    "D-HH:MM:SS") in whole minutes, rounded up; None for UNLIMITED, INFINITE
    or anything unreadable."""
    m = re.fullmatch(r"(?:(\d+)-)?(\d+)(?::(\d+))?(?::(\d+))?", text or "")
    if not m:
        return None
    days, a, b, c = (int(x) if x else None for x in m.groups())
    if days is None:
        # MM, MM:SS or HH:MM:SS
        secs = a * 60 if b is None else (a * 60 + b if c is None else a * 3600 + b * 60 + c)
    else:
        # D-HH, D-HH:MM or D-HH:MM:SS
        secs = days * 86400 + a * 3600 + (b or 0) * 60 + (c or 0)
    return -(-secs // 60)


def time_limits(partitions_text):
    """MaxTime (minutes) of each partition that has one."""
    limits = {}
    for part in records(partitions_text):
        name, minutes = part.get("PartitionName"), slurm_minutes(part.get("MaxTime", ""))
        if name and minutes is not None:
            limits[name] = minutes
    return limits


def time_faults(jobs, limits, default):
    """One line per rule and partition whose jobs' time limits exceed the
    partition's MaxTime; jobs is a list of (rule, partition or "", minutes)."""
    return [f"{count} {rule} job(s) ask for up to {top} minutes (their time estimate), but partition "
            f"{part} runs a job for at most {limits[part]} minutes (its MaxTime)"
            for (rule, part), (count, top) in over_limits(jobs, limits, default)]


def scontrol(*args):
    return subprocess.run(["scontrol", *args], capture_output=True, text=True, check=True).stdout


def before_submit(workflow):
    """Run from onstart: prepares and checks a SLURM run, exits on a fault."""
    if not slurm_executor(workflow):
        return
    if not os.environ.get("USER"):
        os.environ["USER"] = getpass.getuser()
    dag = getattr(getattr(workflow, "persistence", None), "dag", None)
    if dag is None:
        return
    jobs, timed = [], []
    for job in dag.needrun_jobs():
        if job.is_local:
            continue
        part = job.resources.get("slurm_partition") or ""
        mem = job.resources.get("mem_mb")
        if isinstance(mem, int):
            jobs.append((job.rule.name, part, mem))
        minutes = job.resources.get("runtime")
        if isinstance(minutes, int):
            timed.append((job.rule.name, part, minutes))
    try:
        partitions = scontrol("show", "partition", "-o")
        limits, default = memory_limits(partitions, scontrol("show", "node", "-o"))
    except (OSError, subprocess.CalledProcessError) as e:
        print(f"workflow: could not read the partitions' memory from scontrol ({e}); "
              "job memory not checked", file=sys.stderr)
        return
    faults = memory_faults(jobs, limits, default)
    times = time_faults(timed, time_limits(partitions), default)
    if faults or times:
        sys.exit("workflow: refusing to submit, SLURM would never run these jobs:\n  "
                 + "\n  ".join(faults + times)
                 + "\nUse smaller sample blocks (n_blocks, block_size, mem_mb_per_job or max_job_hours in"
                 " the config), another partition (--default-resources ... slurm_partition=NAME, or"
                 " RULE:slurm_partition=NAME in the profile's set-resources), or replace"
                 " the estimate (RULE:mem_mb=N or RULE:runtime=MINUTES in set-resources).")
