#!/usr/bin/env bash
# A private one-node SLURM cluster on this machine, for trying and testing the
# workflow's SLURM profile. Runs as root, needs no systemd.
#
#   eval "$(scripts/slurm_local.sh start)"   # prints: export SLURM_CONF=<dir>/slurm.conf
#   sinfo; sbatch ...; snakemake --profile workflow/profiles/slurm ...
#   scripts/slurm_local.sh stop              # the cluster of $SLURM_CONF
#   scripts/slurm_local.sh stop <dir>        # or of that folder
#
# Everything lives in one new folder (under $TMPDIR, default /tmp): the munge
# key and socket, slurm.conf, the daemons' pid, state, spool and log files,
# and the job completion records (log/jobcomp.txt). munged runs as user munge
# with its own socket; slurmctld and slurmd listen on ports that were free; the
# node is this machine as "slurmd -C" describes it, at 127.0.0.1, in one
# default partition "local". No accounting storage: sacct and sacctmgr do not
# work, squeue and "scontrol show job" do. Stopping cancels the jobs left,
# then ends the daemons by the process ids they wrote, and removes the folder.
#
# Installs the Debian packages slurmctld, slurmd, slurm-client and munge when
# missing. Exit status: 0 done, 1 failed, 77 the packages cannot be had.
set -euo pipefail

packages=(slurmctld slurmd slurm-client munge)

die() { echo "slurm_local: $*" >&2; exit 1; }
say() { echo "slurm_local: $*" >&2; }

install_packages() {
  local p missing=()
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  if [ "$(id -u)" != 0 ]; then
    say "missing packages: ${missing[*]} (install them, or run this script as root)"
    exit 77
  fi
  say "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get install -y -q "${missing[@]}" >/dev/null 2>&1 ||
    { apt-get update -q >/dev/null 2>&1 && apt-get install -y -q "${missing[@]}" >/dev/null 2>&1; } ||
    { say "could not install ${missing[*]}"; exit 77; }
}

# Two TCP ports nobody listens on now (held open together so they differ).
free_ports() {
  python3 - <<'EOF'
import socket
held = []
for _ in range(2):
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    held.append(s)
print(" ".join(str(s.getsockname()[1]) for s in held))
EOF
}

# Ends the process whose id file $1 holds, if that process still is the
# program $2 (a stale id may have been reused); TERM, then KILL after 10 s.
end_daemon() {
  local pidfile=$1 prog=$2 pid i
  [ -s "$pidfile" ] || return 0
  pid=$(tr -dc 0-9 <"$pidfile")
  [ -n "$pid" ] || return 0
  [ "$(readlink "/proc/$pid/exe" 2>/dev/null)" = "$(readlink -f "$(command -v "$prog")")" ] || return 0
  kill -TERM "$pid" 2>/dev/null || return 0
  for ((i = 0; i < 100; i++)); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  say "$prog ($pid) did not stop: killing it"
  kill -KILL "$pid" 2>/dev/null || true
}

stop_cluster() {
  local dir=$1 i
  [ -f "$dir/.slurm_local" ] || die "$dir is not a folder made by slurm_local.sh start"
  export SLURM_CONF=$dir/slurm.conf
  # Cancel the jobs still queued or running, and wait while they end (a
  # process that ignores SIGTERM gets SIGKILL after KillWait), so that no job
  # step outlives slurmd.
  if [ -s "$dir/slurmctld.pid" ] && scontrol ping >/dev/null 2>&1; then
    local ids
    ids=$(squeue -h -o %i 2>/dev/null || true)
    # shellcheck disable=SC2086
    [ -z "$ids" ] || scancel --quiet $ids >/dev/null 2>&1 || true
    for ((i = 0; i < 200; i++)); do
      [ -z "$(squeue -h -o %i 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  end_daemon "$dir/slurmd.pid" slurmd
  end_daemon "$dir/slurmctld.pid" slurmctld
  end_daemon "$dir/munge/munged.pid" munged
  rm -rf -- "$dir"
}

start_cluster() {
  [ "$(id -u)" = 0 ] || { say "the local cluster runs as root"; exit 77; }
  install_packages
  local dir ports ctld_port d_port host node i state
  dir=$(mktemp -d "${TMPDIR:-/tmp}/slurm_local.XXXXXX")
  touch "$dir/.slurm_local"
  # From here on a failure takes down what was started.
  trap 'stop_cluster "$dir" || true' EXIT
  # munged runs as user munge: it must reach its folder through every folder
  # above it (mktemp -d makes 0700 folders).
  chmod 0755 "$dir"
  mkdir -p "$dir/munge" "$dir/state" "$dir/spool" "$dir/log"
  chown munge:munge "$dir/munge"
  chmod 0755 "$dir/munge"
  runuser -u munge -- test -w "$dir/munge" ||
    die "user munge cannot reach $dir (a folder above it is not open to others: set TMPDIR elsewhere)"
  runuser -u munge -- mungekey --create --keyfile="$dir/munge/munge.key" ||
    die "mungekey failed"
  runuser -u munge -- munged --socket="$dir/munge/munge.socket" --key-file="$dir/munge/munge.key" \
    --pid-file="$dir/munge/munged.pid" --log-file="$dir/munge/munged.log" \
    --seed-file="$dir/munge/munged.seed" ||
    die "munged did not start: $(tail -n 3 "$dir/munge/munged.log" 2>/dev/null)"

  read -r ctld_port d_port < <(free_ports) || true
  [ -n "${d_port:-}" ] || die "found no free ports (python3 is needed)"
  # "NodeName=<host> CPUs=... RealMemory=..." of this machine; the
  # controller runs on the same host.
  node=$(slurmd -C | head -n 1)
  case $node in NodeName=?*) ;; *) die "slurmd -C gave no node line: $node" ;; esac
  host=${node#NodeName=}
  host=${host%% *}
  cat >"$dir/slurm.conf" <<EOF
# A one-node cluster made by scripts/slurm_local.sh
ClusterName=methpca_local
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$ctld_port
SlurmdPort=$d_port
SlurmUser=root
SlurmdUser=root
AuthType=auth/munge
CredType=cred/munge
AuthInfo=socket=$dir/munge/munge.socket
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/log/slurmctld.log
SlurmdLogFile=$dir/log/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core_Memory
SchedulerType=sched/backfill
MpiDefault=none
ReturnToService=2
# Seconds from a cancelled job's SIGTERM to its SIGKILL (30 by default).
KillWait=5
AccountingStorageType=accounting_storage/none
JobAcctGatherType=jobacct_gather/none
JobCompType=jobcomp/filetxt
JobCompLoc=$dir/log/jobcomp.txt
$node NodeAddr=127.0.0.1 State=UNKNOWN
PartitionName=local Nodes=ALL Default=YES MaxTime=INFINITE State=UP
EOF
  export SLURM_CONF=$dir/slurm.conf
  # Our ports were free a moment ago; no controller may answer on them.
  if scontrol ping 2>/dev/null | grep -q "is UP"; then
    die "another slurmctld answers on port $ctld_port"
  fi
  slurmctld -i || die "slurmctld did not start: $(tail -n 3 "$dir/log/slurmctld.log" 2>/dev/null)"
  slurmd || die "slurmd did not start: $(tail -n 3 "$dir/log/slurmd.log" 2>/dev/null)"
  for ((i = 0; i < 300; i++)); do
    state=$(sinfo -h -o %t 2>/dev/null || true)
    [ "$state" = idle ] && break
    sleep 0.1
  done
  [ "$state" = idle ] || die "the node did not become idle (state: ${state:-none}); see $dir/log/"
  trap - EXIT
  say "cluster up in $dir (slurmctld port $ctld_port)"
  echo "export SLURM_CONF=$dir/slurm.conf"
}

case ${1:-} in
  start) start_cluster ;;
  stop)
    if [ -n "${2:-}" ]; then
      stop_cluster "$2"
    else
      [ -n "${SLURM_CONF:-}" ] || die "stop: give the cluster's folder, or set SLURM_CONF"
      stop_cluster "$(dirname "$SLURM_CONF")"
    fi
    ;;
  *) echo "usage: $0 start | stop [dir]" >&2; exit 2 ;;
esac
