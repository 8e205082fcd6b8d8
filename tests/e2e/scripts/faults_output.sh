#!/usr/bin/env bash
# Output faults for every program of the road: a file-size limit (ulimit -f),
# an output path that is a folder, a read-only output folder and a full
# filesystem (small tmpfs mounts; skipped where mounting is not allowed).
# Each run must name the cause, end non-zero, leave no temporary file and keep
# an earlier result of the same name.
set -u
bin=$1 src=$2
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"

# Output location of each program: the folder holding its first output file,
# that file, and what the folder needs beside it.
first_output() {
  case $1 in
    descriptives) echo des_chr1.csv ;;
    selfgram) echo diag_1.12_.csv ;;
    crossgram) echo rect_1.12_1.12_.csv ;;
    grameigen) echo pca_eigenval.csv ;;
    stdweights | cenweights) echo loadings/pca_loadings_chr1.csv ;;
  esac
}
prepare() {  # program folder: the folder as the program's output location
  mkdir -p "$2"
  case $1 in
    stdweights | cenweights) mkdir -p "$2/loadings"; cp "$work/res/pca_eigenval.csv" "$work/res/pca_eigenvec.csv" "$2/" ;;
  esac
}

can_mount=1
probe=$work/probe_mnt
mkdir -p "$probe"
if mount -t tmpfs -o size=64k tmpfs "$probe" 2>/dev/null; then umount "$probe"; else can_mount=0; fi

for p in descriptives selfgram crossgram grameigen stdweights cenweights; do
  out=$(first_output $p)

  o=$work/o_fsize_$p; prepare $p "$o"; echo EARLIER > "$o/$out"
  expect_failure "$p, file-size limit 1 KB" "cannot write output file .*(File too large)" "$o/$out" \
    "ulimit -f 1; $(run_$p "$o/")"

  o=$work/o_dir_$p; prepare $p "$o"; mkdir -p "$o/$out"
  expect_failure "$p, output path is a folder" "cannot write output file .*$out: Is a directory" - "$(run_$p "$o/")"
  [ -d "$o/$out" ] || { echo "FAIL $p: the folder in the output's place is gone"; fail_count=$((fail_count + 1)); }

  # The second output of a run fails: the first must not have replaced its
  # earlier file either.
  second=""
  case $p in
    selfgram) second=diagst_1.12_.csv ;;
    crossgram) second=rectst_1.12_1.12_.csv ;;
    grameigen) second=pca_eigenvec.csv ;;
  esac
  if [ -n "$second" ]; then
    o=$work/o_second_$p; prepare $p "$o"; echo EARLIER > "$o/$out"; mkdir -p "$o/$second"
    expect_failure "$p, second output path is a folder" "cannot write output file .*$second: Is a directory" "$o/$out" "$(run_$p "$o/")"
  fi

  o=$work/o_missing_$p
  case $p in stdweights | cenweights) prepare $p "$o"; rmdir "$o/loadings" ;; esac
  expect_failure "$p, output folder missing" "cannot write output file .*No such file or directory" - "$(run_$p "$o/")"

  if [ $can_mount = 0 ]; then
    skip "$p, read-only output folder and full filesystem: tmpfs cannot be mounted here"
    continue
  fi
  o=$work/o_ro_$p; mkdir -p "$o"; mount -t tmpfs -o size=256k tmpfs "$o" && mounts+=("$o")
  prepare $p "$o"; echo EARLIER > "$o/$out"
  mount -o remount,ro "$o"
  expect_failure "$p, read-only output folder" "cannot write output file .*Read-only file system" "$o/$out" "$(run_$p "$o/")"

  o=$work/o_full_$p; mkdir -p "$o"; mount -t tmpfs -o size=16k tmpfs "$o" && mounts+=("$o")
  prepare $p "$o"; echo EARLIER > "$o/$out"
  dd if=/dev/zero of="$o/filler" bs=1k 2>/dev/null
  expect_failure "$p, filesystem full" "cannot write output file .*No space left on device" "$o/$out" "$(run_$p "$o/")"
done
if [ "$(id -u)" = 0 ]; then
  skip "output folder without write permission: root ignores permissions (the read-only mount covers it)"
else
  o=$work/o_perm; prepare descriptives "$o"; echo EARLIER > "$o/des_chr1.csv"; chmod 555 "$o"
  expect_failure "descriptives, output folder without write permission" "cannot write output file .*Permission denied" \
    "$o/des_chr1.csv" "$(run_descriptives "$o/")"
  chmod 755 "$o"
fi
faults_finish
