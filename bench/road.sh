#!/usr/bin/env bash
# The whole road on the benchmark dataset, timed stage by stage with wall time,
# processor time and peak memory, in the same run:
#   - the five-program road (descriptives, selfgram, crossgram, grameigen,
#     stdweights, cenweights) with the programs (fast paths) and with their
#     <program>_plain twins (plain reference paths), each one job at a time
#     and two jobs at a time;
#   - the one-reading road, one job at a time: fullgram over both
#     chromosomes, grameigen x 2, weights per chromosome (stdweights and
#     cenweights where no weights program is built).
# Checks that the plain road's outputs equal the fast road's byte for byte,
# and the one-reading road's descriptives, eigen and loadings files too; then
# measures the peak memory of every streaming program on 40 samples x 1.5
# million sites and x 150,000 sites. Writes the results into
# docs/benchmarks.md (between the "road results" markers).
#
# Dataset: 200 samples, 2 chromosomes x 500,000 sites (about 3.4 GB of text),
# sample blocks 1-100 and 101-200, both analyses (standardized and centred),
# K = 10.
# Usage: bench/road.sh [--no-plain-wide] [--no-memory] [--keep]
# Environment for smaller trials: ROAD_SAMPLES, ROAD_SITES, ROAD_MEM_SITES
# (sites of the larger memory dataset, default 1500000), ROAD_DIR (work
# folder, default a new folder under /tmp), ROAD_DOC (default docs/benchmarks.md).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
plain_wide=1 keep=0 memory=1
for a in "$@"; do
  case $a in
    --no-plain-wide) plain_wide=0 ;;
    --no-memory) memory=0 ;;
    --keep) keep=1 ;;
    *) echo "usage: bench/road.sh [--no-plain-wide] [--no-memory] [--keep]"; exit 2 ;;
  esac
done
samples=${ROAD_SAMPLES:-200} sites=${ROAD_SITES:-500000} K=10
mem_sites=${ROAD_MEM_SITES:-1500000}
half=$((samples / 2))
doc=${ROAD_DOC:-docs/benchmarks.md}

[ -x /usr/bin/time ] || scripts/deps.sh time  # Debian package "time"
progs="descriptives selfgram crossgram grameigen stdweights cenweights"
targets="methgen getline_baseline bench_kernel bench_numparse"
for p in $progs; do targets="$targets $p ${p}_plain"; done
targets="$targets fullgram"
# weights: where this tree has it
grep -qs 'add_executable(weights ' loadcalc/CMakeLists.txt && targets="$targets weights"
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release > /dev/null
# shellcheck disable=SC2086
cmake --build build -j2 --target $targets > /dev/null
bin=$root/build/bin
if [ -x "$bin/weights" ] && grep -qs 'add_executable(weights ' loadcalc/CMakeLists.txt; then weights=1; else weights=0; fi

work=${ROAD_DIR:-$(mktemp -d /tmp/road.XXXXXX)}
mkdir -p "$work"
[ "$keep" = 1 ] && echo "work folder kept: $work" || trap 'rm -rf "$work"' EXIT
cd "$work"

load() { cut -d' ' -f1-3 /proc/loadavg; }
now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }

if [ ! -f data/samples.txt ]; then
  echo "== generating $samples samples x 2 chromosomes x $sites sites"
  "$bin/methgen" --out data --samples "$samples" --chroms 2 --sites "$sites" --groups 4 --seed 1 > /dev/null
fi
bytes=$(du -sb data/meth | cut -f1)

# road <mode> <program suffix> <jobs at a time> [five|one]
road() {
  local mode=$1 x=$2 width=$3 kind=${4:-five} o=$work/$1
  rm -rf "$o"
  mkdir -p "$o/des" "$o/blocks" "$o/std/loadings" "$o/cen/loadings" "$o/log" "$o/time"
  echo "== road $mode (programs$x, $width at a time), load $(load)"
  echo "load_before $(load)" > "$o/stages"
  stage() {  # stage <name>; job lines "<label> <command...>" on standard input
    local name=$1 t0 t1
    # The methylation files back into the page cache, untimed: some shared
    # machines page out file pages that are read only now and then (seen as
    # 2-3x slower loadings jobs, with the same processor time), and a stage
    # would then time the disk instead of the programs.
    [ "$name" = eigen ] || cat data/meth/chr*/*.csv > /dev/null
    t0=$(now)
    awk -v o="$o" '{ label = $1; $1 = ""; printf "/usr/bin/time -f \"%%e %%M %%U %%S\" -o %s/time/%s%s > %s/log/%s\n", o, label, $0, o, label }' |
      xargs -d '\n' -P "$width" -I{} bash -c '{}' || { echo "a job of stage $name failed; logs in $o/log"; exit 1; }
    t1=$(now)
    echo "$name $(elapsed "$t0" "$t1")" >> "$o/stages"
  }
  m="data/meth/ data/samples.txt"
  if [ "$kind" = one ]; then
    printf '%s\n' "fullgram $bin/fullgram $m $o/des/ $o/blocks/ 1 2" | stage gram
    printf '%s\n' "grameigen_std $bin/grameigen data/samples.txt $o/std/ road std $o/blocks/" \
      "grameigen_cen $bin/grameigen data/samples.txt $o/cen/ road cen $o/blocks/" | stage eigen
    if [ "$weights" = 1 ]; then
      printf '%s\n' "weights1 $bin/weights data/meth/ $o/des/ $K 1 $o/std/ road $o/cen/ road" \
        "weights2 $bin/weights data/meth/ $o/des/ $K 2 $o/std/ road $o/cen/ road" | stage loadings
    else
      printf '%s\n' "stdweights1 $bin/stdweights data/meth/ $o/des/ $o/std/ road $K 1" \
        "stdweights2 $bin/stdweights data/meth/ $o/des/ $o/std/ road $K 2" \
        "cenweights1 $bin/cenweights data/meth/ $o/des/ $o/cen/ road $K 1" \
        "cenweights2 $bin/cenweights data/meth/ $o/des/ $o/cen/ road $K 2" | stage loadings
    fi
    echo "load_after $(load)" >> "$o/stages"
    return
  fi
  printf '%s\n' "des1 $bin/descriptives$x $m $o/des/ 1" "des2 $bin/descriptives$x $m $o/des/ 2" | stage descriptives
  printf '%s\n' "crossgram $bin/crossgram$x $m $o/des/ $o/blocks/ 1 2 1 $half $((half + 1)) $samples" \
    "selfgram1 $bin/selfgram$x $m $o/des/ $o/blocks/ 1 2 1 $half" \
    "selfgram2 $bin/selfgram$x $m $o/des/ $o/blocks/ 1 2 $((half + 1)) $samples" | stage blocks
  printf '%s\n' "grameigen_std $bin/grameigen$x data/samples.txt $o/std/ road std $o/blocks/" \
    "grameigen_cen $bin/grameigen$x data/samples.txt $o/cen/ road cen $o/blocks/" | stage eigen
  printf '%s\n' "stdweights1 $bin/stdweights$x data/meth/ $o/des/ $o/std/ road $K 1" \
    "stdweights2 $bin/stdweights$x data/meth/ $o/des/ $o/std/ road $K 2" \
    "cenweights1 $bin/cenweights$x data/meth/ $o/des/ $o/cen/ road $K 1" \
    "cenweights2 $bin/cenweights$x data/meth/ $o/des/ $o/cen/ road $K 2" | stage loadings
  echo "load_after $(load)" >> "$o/stages"
}

# The same outputs, byte for byte (logs hold processor times and paths);
# extra arguments are more diff options (-x blocks: the one-reading road has
# one whole-matrix block where the five-program road has three).
same_outputs() {
  if diff -r -x log -x time -x stages "${@:3}" "$work/$1" "$work/$2" > /dev/null; then
    echo "outputs of $2 equal those of $1"
  else
    echo "OUTPUTS DIFFER: $1 vs $2"; return 1
  fi
}

road fast1 "" 1
road one1 "" 1 one
same_outputs fast1 one1 -x blocks
rm -rf "$work/one1/std/loadings" "$work/one1/cen/loadings"
road fast2 "" 2
same_outputs fast1 fast2
rm -rf "$work/fast2/std/loadings" "$work/fast2/cen/loadings"
road plain1 _plain 1
same_outputs fast1 plain1
rm -rf "$work/plain1/std/loadings" "$work/plain1/cen/loadings"
modes="fast1 fast2 plain1"
if [ "$plain_wide" = 1 ]; then
  road plain2 _plain 2
  same_outputs fast1 plain2
  modes="$modes plain2"
fi

# Peak memory of every streaming program on 40 samples x $1 sites of one
# chromosome, into $work/peaks_$1 ("program KB" lines).
memory_peaks() {
  local n=$1 d=$work/mem_$1 o=$work/mem_$1/out m
  echo "== peak memory, 40 samples x $n sites, load $(load)"
  "$bin/methgen" --out "$d" --samples 40 --chroms 1 --sites "$n" --seed 3 > /dev/null
  mkdir -p "$o/des" "$o/fdes" "$o/blocks" "$o/full" "$o/std/loadings" "$o/cen/loadings" "$o/wstd/loadings" "$o/wcen/loadings"
  : > "$work/peaks_$n"
  peak() {
    local name=$1
    shift
    /usr/bin/time -f %M -o "$o/$name.kb" "$@" > /dev/null || { echo "$name failed on the memory dataset"; exit 1; }
    echo "$name $(tail -1 "$o/$name.kb")" >> "$work/peaks_$n"
  }
  m="$d/meth/ $d/samples.txt"
  peak descriptives "$bin/descriptives" $m "$o/des/" 1
  peak selfgram "$bin/selfgram" $m "$o/des/" "$o/blocks/" 1 1 1 20
  peak crossgram "$bin/crossgram" $m "$o/des/" "$o/blocks/" 1 1 1 20 21 40
  peak fullgram "$bin/fullgram" $m "$o/fdes/" "$o/full/" 1 1
  "$bin/grameigen" "$d/samples.txt" "$o/std/" m std "$o/full/" > /dev/null
  "$bin/grameigen" "$d/samples.txt" "$o/cen/" m cen "$o/full/" > /dev/null
  peak stdweights "$bin/stdweights" "$d/meth/" "$o/des/" "$o/std/" m $K 1
  peak cenweights "$bin/cenweights" "$d/meth/" "$o/des/" "$o/cen/" m $K 1
  [ "$weights" = 0 ] || peak weights "$bin/weights" "$d/meth/" "$o/des/" $K 1 "$o/std/" m "$o/cen/" m
  rm -rf "$d"
}
if [ "$memory" = 1 ]; then
  memory_peaks "$mem_sites"
  memory_peaks $((mem_sites / 10))
fi

echo "== getline+atof baseline (in step over all samples of chromosome 1)"
cat data/meth/chr1/*.csv > /dev/null  # into the page cache, untimed, as before each stage
/usr/bin/time -f "%e %M" -o "$work/baseline.time" "$bin/getline_baseline" data/meth/ data/samples.txt 1 > /dev/null
echo "== bench_kernel and bench_numparse"
"$bin/bench_kernel" --benchmark_filter='peak|ref/|accumulate/|packed/' --benchmark_repetitions=5 \
  --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=true 2> /dev/null > "$work/kernel.txt"
"$bin/bench_numparse" --benchmark_filter='lines/|parse' 2> /dev/null > "$work/numparse.txt"

# ---- the report
{
  echo "Generated by \`bench/road.sh\` on $(date -u '+%Y-%m-%d %H:%M UTC')."
  echo
  echo "Machine: $(lscpu | sed -n 's/^Model name: *//p') (CPU family $(lscpu | sed -n 's/^CPU family: *//p') model $(lscpu | sed -n 's/^Model: *//p')), $(nproc) cores" \
    "($(lscpu | sed -n 's/^Thread(s) per core: *//p') thread(s) per core), $(free -g | awk '/^Mem:/ { print $2 }') GB memory," \
    "kernel instruction set $(grep -o 'chosen version: [a-z0-9]*' "$work/kernel.txt" | cut -d' ' -f3)."
  echo "Dataset: $samples samples, 2 chromosomes x $sites sites, $((bytes / 1000000)) MB of methylation text" \
    "($((samples * sites * 2)) data lines); blocks 1-$half and $((half + 1))-$samples; both analyses, K = $K."
  echo "Load averages (1, 5, 15 min) before and after each road are listed; the machine is shared."
  echo
  echo "Wall seconds and peak resident memory (MB) of every job; a stage's wall time is that of the"
  echo "whole stage (two jobs at a time in the *2 roads)."
  echo
  printf '| job | lines read |'
  for md in $modes; do printf ' %s s | %s MB |' "$md" "$md"; done
  echo
  printf '|---|---:|'
  for md in $modes; do printf -- '---:|---:|'; done
  echo
  lines_of() {
    case $1 in
      des*|stdweights*|cenweights*) echo $((samples * sites)) ;;
      selfgram*) echo $((half * sites * 2)) ;;
      crossgram) echo $((samples * sites * 2)) ;;
      *) echo 0 ;;
    esac
  }
  for job in des1 des2 crossgram selfgram1 selfgram2 grameigen_std grameigen_cen stdweights1 stdweights2 cenweights1 cenweights2; do
    printf '| %s | %s |' "$job" "$(lines_of $job)"
    for md in $modes; do
      read -r t kb _ < "$work/$md/time/$job"
      printf ' %s | %d |' "$t" $((kb / 1024))
    done
    echo
  done
  for st in descriptives blocks eigen loadings; do
    printf '| **stage %s** | |' "$st"
    for md in $modes; do printf ' **%s** | |' "$(awk -v s=$st '$1 == s { print $2 }' "$work/$md/stages")"; done
    echo
  done
  printf '| **whole road** | |'
  for md in $modes; do printf ' **%s** | |' "$(awk '$1 ~ /^(descriptives|blocks|eigen|loadings)$/ { t += $2 } END { printf "%.2f", t }' "$work/$md/stages")"; done
  echo
  printf '| load before / after | |'
  for md in $modes; do printf ' %s / %s | |' "$(awk '$1 == "load_before" { print $2 }' "$work/$md/stages")" "$(awk '$1 == "load_after" { print $2 }' "$work/$md/stages")"; done
  echo
  echo
  total() { awk '$1 ~ /^(descriptives|blocks|gram|eigen|loadings)$/ { t += $2 } END { print t }' "$work/$1/stages"; }
  peak() { cat "$work/$1"/time/* | awk '$2 > m { m = $2 } END { printf "%.0f", m / 1024 }'; }
  # Processor seconds of a road's jobs: user, and user + system (the system
  # share holds the page-cache copies, which move most with the machine).
  # cpu <road> user | all
  cpu() { cat "$work/$1"/time/* | awk -v all="$([ "$2" = all ] && echo 1)" '{ t += $3 + (all ? $4 : 0) } END { printf "%.2f", t }'; }
  ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.1fx", a / b; else printf "-" }'; }
  echo "Summary:"
  echo
  echo "- whole road, fast, one job at a time: $(total fast1) s; two at a time: $(total fast2) s"
  echo "- whole road, plain, one job at a time: $(total plain1) s$( [ "$plain_wide" = 1 ] && echo "; two at a time: $(total plain2) s")"
  echo "- plain / fast: $(ratio "$(total plain1)" "$(total fast1)") one at a time$( [ "$plain_wide" = 1 ] && echo ", $(ratio "$(total plain2)" "$(total fast2)") two at a time")"
  echo "- largest peak memory of one fast program: $(peak fast1) MB (plain: $(peak plain1) MB)"
  echo "- the task's figure for an analyst's in-memory route (one analysis only): about 36 s and 4.9 GB"
  echo "- outputs of every plain road equal the fast road's byte for byte (checked by this script)"
  echo
  echo "One-reading road, one job at a time (fullgram over both chromosomes, grameigen x 2, loadings"
  echo "per chromosome$( [ "$weights" = 1 ] && echo " with weights" || echo ": no weights program in this build, so stdweights and cenweights"));"
  echo "its descriptives, eigen and loadings files equal the five-program road's byte for byte (checked by this script):"
  echo
  echo '| job | lines read | s | MB |'
  echo '|---|---:|---:|---:|'
  one_jobs="fullgram grameigen_std grameigen_cen"
  if [ "$weights" = 1 ]; then one_jobs="$one_jobs weights1 weights2"; else one_jobs="$one_jobs stdweights1 stdweights2 cenweights1 cenweights2"; fi
  for job in $one_jobs; do
    case $job in
      fullgram) lr=$((samples * sites * 2)) ;;
      grameigen*) lr=0 ;;
      *) lr=$((samples * sites)) ;;
    esac
    read -r t kb _ < "$work/one1/time/$job"
    printf '| %s | %s | %s | %d |\n' "$job" "$lr" "$t" $((kb / 1024))
  done
  for st in gram eigen loadings; do
    printf '| **stage %s** | | **%s** | |\n' "$st" "$(awk -v s=$st '$1 == s { print $2 }' "$work/one1/stages")"
  done
  printf '| **whole road** | | **%s** | |\n' "$(total one1)"
  printf '| load before / after | | %s / %s | |\n' "$(awk '$1 == "load_before" { print $2 }' "$work/one1/stages")" "$(awk '$1 == "load_after" { print $2 }' "$work/one1/stages")"
  echo
  echo "- one-reading road: $(total one1) s one job at a time; the plain build's five-program road one at a time:" \
    "$(total plain1) s, $(ratio "$(total plain1)" "$(total one1)");" \
    "the fast five-program road one at a time: $(total fast1) s, $(ratio "$(total fast1)" "$(total one1)")"
  echo "- largest peak memory of one program on the one-reading road: $(peak one1) MB"
  echo "- processor time (user / user + system), summed over the jobs: one-reading road $(cpu one1 user) / $(cpu one1 all) s," \
    "plain five-program road $(cpu plain1 user) / $(cpu plain1 all) s:" \
    "$(ratio "$(cpu plain1 user)" "$(cpu one1 user)") / $(ratio "$(cpu plain1 all)" "$(cpu one1 all)")" \
    "(wall time is the target; this shows how much of a change is the machine's)"
  echo
  if [ "$memory" = 1 ]; then
    small=$((mem_sites / 10))
    echo "Peak resident memory (MiB, /usr/bin/time %M) of every streaming program on 40 samples x one"
    echo "chromosome of $mem_sites and of $small sites (selfgram samples 1-20, crossgram 1-20 x 21-40,"
    echo "fullgram all 40, loadings K = $K):"
    echo
    echo "| program | $mem_sites sites | $small sites | ratio |"
    echo '|---|---:|---:|---:|'
    while read -r prog kb; do
      kbs=$(awk -v p="$prog" '$1 == p { print $2 }' "$work/peaks_$small")
      awk -v p="$prog" -v a="$kb" -v b="$kbs" 'BEGIN { printf "| %s | %.1f | %.1f | %.2f |\n", p, a / 1024, b / 1024, a / b }'
    done < "$work/peaks_$mem_sites"
    echo
  fi
  echo "Reading rates (data lines per wall second of the job, fast road one at a time):"
  echo
  for job in des1 des2 selfgram1 selfgram2 crossgram stdweights1 cenweights1; do
    read -r t kb _ < "$work/fast1/time/$job"
    read -r tp kbp _ < "$work/plain1/time/$job"
    awk -v j=$job -v n="$(lines_of $job)" -v t="$t" -v tp="$tp" 'BEGIN { printf "- %s: %.1f M lines/s (plain %.1f M lines/s)\n", j, n / t / 1e6, n / tp / 1e6 }'
  done
  read -r tb kbb < "$work/baseline.time"
  read -r td kbd _ < "$work/fast1/time/des1"
  awk -v n=$((samples * sites)) -v tb="$tb" -v td="$td" 'BEGIN {
    printf "- getline+atof loop over the same files (bench/getline_baseline.cpp, in step like descriptives): %.1f M lines/s; descriptives reads at %.1fx that rate\n", n / tb / 1e6, tb / td }'
  for job in selfgram1 crossgram; do
    awk -v j=$job -v n="$(lines_of $job)" '/^Seconds used since/ { print "- " j ", processor time to the end of reading (its first \"Seconds used\" line): " $NF " s, " sprintf("%.1f", n / $NF / 1e6) " M lines/s"; exit }' "$work/fast1/log/$job"
  done
  echo
  echo "Number parsing and line splitting (bench_numparse, one file read through):"
  echo
  echo '```'
  grep -E '^(parse|parse_ref|atof)/(0|3) |^lines/' "$work/numparse.txt" | awk '{ r = ""; for (i = 1; i <= NF; i++) if ($i ~ /^items_per_second=/) r = $i; print $1, r }'
  echo '```'
  echo
  echo "Block accumulation kernel (bench_kernel: ratio to the machine's separate multiply+add peak and to the plain loop):"
  echo
  echo '```'
  sed -n '/chosen version/,$p' "$work/kernel.txt"
  echo '```'
} > "$work/report.md"

cd "$root"
begin='<!-- road results begin -->' end='<!-- road results end -->'
if [ -f "$doc" ] && grep -q "$begin" "$doc"; then
  awk -v b="$begin" -v e="$end" -v r="$work/report.md" '
    $0 == b { print; while ((getline l < r) > 0) print l; skip = 1; next }
    $0 == e { skip = 0 } !skip { print }' "$doc" > "$doc.tmp" && mv "$doc.tmp" "$doc"
else
  { echo "# Benchmarks"; echo; echo "$begin"; cat "$work/report.md"; echo "$end"; } > "$doc"
fi
cat "$work/report.md"
