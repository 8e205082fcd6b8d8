#!/usr/bin/env bash
# Signals during a write: every program of the road is held between writing
# an output's temporary file and moving it into place (tests/tools/
# hold_fsync.cpp holds fsync), then sent a signal. Every catchable signal
# whose default action ends the process must leave no temporary file, keep
# the earlier result, and end the process by that same signal. descriptives
# gets every such signal, the other programs a few of each kind.
set -u
bin=$1 src=$2
shim=$bin/../tests/hold_fsync.so
[ -f "$shim" ] || { echo "SKIP: $shim is not built"; exit 77; }
command -v python3 >/dev/null || { echo "SKIP: python3 is missing"; exit 77; }
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"

# One output folder per run, with what the program needs beside it; prints
# the command (from faults_lib) and the first output file, tab-separated.
prepare() {  # program folder
  mkdir -p "$2"
  case $1 in
    stdweights | cenweights) mkdir -p "$2/loadings"; cp "$work/res/pca_eigenval.csv" "$work/res/pca_eigenvec.csv" "$2/" ;;
  esac
}
first_output() {
  case $1 in
    descriptives) echo des_chr1.csv ;;
    selfgram) echo diag_1.12_.csv ;;
    crossgram) echo rect_1.12_1.12_.csv ;;
    grameigen) echo pca_eigenval.csv ;;
    fullgram) echo des_chr1.csv ;;
    stdweights | cenweights) echo loadings/pca_loadings_chr1.csv ;;
  esac
}

# Sanitizer builds claim SIGSEGV, SIGBUS and SIGFPE for their own reports.
sanitized=0
ldd "$bin/descriptives" 2>/dev/null | grep -q libasan && sanitized=1

list=$work/runs.tsv
: > "$list"
add_runs() {  # program signal...
  local p=$1 s o
  shift
  for s in "$@"; do
    o=$work/sig_${p}_$s
    prepare "$p" "$o"
    echo EARLIER > "$o/$(first_output "$p")"
    printf '%s\t%s\t%s\t%s\n' "$p" "$s" "$o/$(first_output "$p")" "$(run_"$p" "$o/")" >> "$list"
  done
}
all=$(python3 - "$sanitized" <<'EOF'
import signal, sys
names = ["HUP", "INT", "QUIT", "ILL", "TRAP", "ABRT", "BUS", "FPE", "USR1", "SEGV", "USR2", "PIPE",
         "ALRM", "TERM", "STKFLT", "XCPU", "VTALRM", "PROF", "IO", "PWR", "SYS"]
if sys.argv[1] == "1":
    names = [n for n in names if n not in ("SEGV", "BUS", "FPE")]
names = [n for n in names if hasattr(signal, "SIG" + n)]
rt = [f"RTMIN+{k}" for k in range(signal.SIGRTMAX - signal.SIGRTMIN + 1)]
print(" ".join(names + rt))
EOF
)
[ $sanitized = 1 ] && skip "SIGSEGV, SIGBUS, SIGFPE: the sanitizer build handles them itself"
add_runs descriptives $all
# fullgram: descriptives prefix and block prefix both the output folder.
run_fullgram() { echo "\"$bin/fullgram\" \"$work/d/meth/\" \"$work/d/samples.txt\" \"$1\" \"$1\" 1 2"; }
fullgram=""
[ -x "$bin/fullgram" ] && fullgram=fullgram
for p in selfgram crossgram grameigen stdweights cenweights $fullgram; do
  add_runs $p TERM INT QUIT PIPE USR1 ALRM RTMIN+3
done

python3 - "$list" "$shim" "$work" <<'EOF' || fail_count=$((fail_count + 1))
import glob, os, resource, signal, subprocess, sys, time

runs, shim, work = sys.argv[1:4]
env = dict(os.environ, LD_PRELOAD=shim, ASAN_OPTIONS="detect_leaks=0:verify_asan_link_order=0")
failed = 0

def signum(name):
    if name.startswith("RTMIN+"):
        return signal.SIGRTMIN + int(name[6:])
    return getattr(signal, "SIG" + name)

def no_core():
    resource.setrlimit(resource.RLIMIT_CORE, (0, 0))

for row in open(runs):
    prog, name, target, cmd = row.rstrip("\n").split("\t")
    sig = signum(name)
    mark = os.path.join(work, "held")
    if os.path.exists(mark):
        os.unlink(mark)
    env["METHPCA_HOLD_FSYNC"] = mark
    with open(os.path.join(work, "sig.out"), "w") as out, open(os.path.join(work, "sig.err"), "w") as err:
        p = subprocess.Popen(["bash", "-c", "exec " + cmd], stdout=out, stderr=err, env=env,
                             preexec_fn=no_core)
        deadline = time.time() + 60
        while not os.path.exists(mark) and p.poll() is None and time.time() < deadline:
            time.sleep(0.005)
        held = os.path.exists(mark)
        tmps_held = glob.glob(os.path.join(os.path.dirname(target), ".*.tmp*"))
        if held:
            p.send_signal(sig)
        try:
            p.wait(timeout=60)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
    bad = []
    if not held:
        bad.append(f"never reached fsync (status {p.returncode})")
    elif not tmps_held:
        bad.append("no temporary file while held")
    if p.returncode != -sig:
        bad.append(f"status {p.returncode}, not killed by signal {sig}")
    left = glob.glob(os.path.join(work, "**", ".*.tmp*"), recursive=True)
    if left:
        bad.append(f"temporary left: {left}")
        for f in left:
            os.unlink(f)
    if open(target).read() != "EARLIER\n":
        bad.append("earlier result changed")
    if os.path.getsize(os.path.join(work, "sig.err")):
        bad.append("standard error: " + open(os.path.join(work, "sig.err")).read()[:200])
    if bad:
        failed += 1
        print(f"FAIL {prog}, SIG{name}: " + "; ".join(bad))
    else:
        print(f"ok   {prog}, SIG{name}: killed by it, temporary removed")
sys.exit(1 if failed else 0)
EOF
faults_finish
