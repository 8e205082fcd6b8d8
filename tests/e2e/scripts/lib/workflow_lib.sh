# Shared by the workflow tests: skip rules, a generated dataset, the config of
# the workflow for it, and the same road run by hand.
# Expects $bin (the programs' folder) and $src (the source tree) to be set.

PROGRAMS="descriptives selfgram crossgram fullgram grameigen stdweights cenweights weights methgen"

# Exits 77 (skipped) when snakemake or a program is missing.
wf_require() {
  if ! command -v snakemake >/dev/null 2>&1; then
    echo "SKIP: snakemake is not installed (apt-get install snakemake, or run scripts/test.sh as root)"
    exit 77
  fi
  local p
  for p in $PROGRAMS; do
    if [ ! -x "$bin/$p" ]; then
      echo "SKIP: $bin/$p is not built"
      exit 77
    fi
  done
}

# Dataset: 11 samples (blocks 1-3, 4-7, 8-11), 2 chromosomes of 300 sites, a
# few constant sites. K = 3, both analyses, the block road, one run per
# chromosome.
wf_dataset() {
  "$bin/methgen" --out data --samples 11 --chroms 2 --sites 300 --seed 7 --constant 0.05 >/dev/null
  cat >cfg.yaml <<EOF
meth_prefix: data/meth/
samples: data/samples.txt
chromosomes: "1-2"
road: blocks
n_blocks: 3
runs: per_chromosome
K: 3
analyses: [std, cen]
label: t
out: wf/
groups: data/groups.tsv
bin_dir: $bin
EOF
}

wf_snakemake() {
  snakemake -s "$src/workflow/Snakefile" --configfile cfg.yaml "$@"
}

# The road by hand, as a user's batch script runs it, into hand/: a run per
# chromosome, blocks 1-3, 4-7, 8-11.
wf_hand_road() {
  local c a b i j
  local blocks=(1 3 4 7 8 11)
  mkdir -p hand/des hand/results/loadings
  for c in 1 2; do
    "$bin/descriptives" data/meth/ data/samples.txt hand/des/ $c >/dev/null
  done
  for c in 1 2; do
    mkdir -p hand/blocks/chr$c-$c
    for ((i = 0; i < 6; i += 2)); do
      "$bin/selfgram" data/meth/ data/samples.txt hand/des/ hand/blocks/chr$c-$c/ $c $c \
        ${blocks[i]} ${blocks[i + 1]} >/dev/null
      for ((j = i + 2; j < 6; j += 2)); do
        "$bin/crossgram" data/meth/ data/samples.txt hand/des/ hand/blocks/chr$c-$c/ $c $c \
          ${blocks[i]} ${blocks[i + 1]} ${blocks[j]} ${blocks[j + 1]} >/dev/null
      done
    done
  done
  for a in std cen; do
    "$bin/grameigen" data/samples.txt hand/results/ t_$a $a hand/blocks/chr1-1/ hand/blocks/chr2-2/ \
      --groups data/groups.tsv >/dev/null
  done
  for c in 1 2; do
    "$bin/stdweights" data/meth/ hand/des/ hand/results/ t_std 3 $c >/dev/null
    "$bin/cenweights" data/meth/ hand/des/ hand/results/ t_cen 3 $c >/dev/null
  done
}

# The workflow's descriptives, block, eigen and loadings files are
# byte-identical to the hand-written road's, and there are no others.
wf_compare() {
  local out=$1 status=0 pair
  for pair in "des des" "blocks blocks/n11_count3" "results results"; do
    set -- $pair
    diff -rq "hand/$1" "$out/$2" || { echo "FAIL: $out/$2 differs from the hand-written road's $1"; status=1; }
  done
  return $status
}

# The same road with one run of both chromosomes, into hand_all/.
wf_hand_road_one_run() {
  local a i j
  local blocks=(1 3 4 7 8 11)
  mkdir -p hand_all/des hand_all/blocks hand_all/results/loadings
  for c in 1 2; do
    "$bin/descriptives" data/meth/ data/samples.txt hand_all/des/ $c >/dev/null
  done
  for ((i = 0; i < 6; i += 2)); do
    "$bin/selfgram" data/meth/ data/samples.txt hand_all/des/ hand_all/blocks/ 1 2 \
      ${blocks[i]} ${blocks[i + 1]} >/dev/null
    for ((j = i + 2; j < 6; j += 2)); do
      "$bin/crossgram" data/meth/ data/samples.txt hand_all/des/ hand_all/blocks/ 1 2 \
        ${blocks[i]} ${blocks[i + 1]} ${blocks[j]} ${blocks[j + 1]} >/dev/null
    done
  done
  for a in std cen; do
    "$bin/grameigen" data/samples.txt hand_all/results/ t_$a $a hand_all/blocks/ --groups data/groups.tsv >/dev/null
  done
  for c in 1 2; do
    "$bin/stdweights" data/meth/ hand_all/des/ hand_all/results/ t_std 3 $c >/dev/null
    "$bin/cenweights" data/meth/ hand_all/des/ hand_all/results/ t_cen 3 $c >/dev/null
  done
}

# The descriptives, eigen and loadings files of workflow output $2 equal
# those of hand-written road $1 byte for byte.
wf_compare_results() {
  local status=0 d
  for d in des results; do
    diff -rq "$1/$d" "$2/$d" || { echo "FAIL: $2/$d differs from $1/$d"; status=1; }
  done
  return $status
}

# Job counts of a dry run's log $1 ("rule count" words), e.g. wf_job_counts log "weights 2".
wf_job_counts() {
  local log=$1 stats want
  stats=$(sed -n '/^Job stats:/,/^total/p' "$log")
  shift
  for want in "$@"; do
    set -- $want
    echo "$stats" | grep -Eq "^$1 +$2 " || { cat "$log"; echo "FAIL: expected $2 $1 job(s)"; return 1; }
  done
}
