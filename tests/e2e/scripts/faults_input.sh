#!/usr/bin/env bash
# Input faults for every program of the road: a folder where a file is
# expected, an unreadable file (not testable as root), a methylation file
# (or block file) cut off in the middle of a line, and more samples than the
# hard open-file limit allows. Each run must name the cause, end non-zero,
# leave no temporary file and keep an earlier result of the same name.
set -u
bin=$1 src=$2
. "$src/tests/e2e/faults_lib.sh"
faults_setup "$bin"

# A fresh copy of the inputs in $work/x with earlier results in $work/x/out/.
fresh() {
  rm -rf "$work/x"
  mkdir -p "$work/x/out/loadings"
  cp -r "$work/d/meth" "$work/d/samples.txt" "$work/des" "$work/blocks" "$work/x/"
  cp "$work/res/pca_eigenval.csv" "$work/res/pca_eigenvec.csv" "$work/x/out/"
  for f in des_chr1.csv diag_1.12_.csv rect_1.12_1.12_.csv pca_eigenvec.csv.earlier loadings/pca_loadings_chr1.csv; do
    echo EARLIER > "$work/x/out/$f"
  done
}
x=$work/x
desc="\"$bin/descriptives\" \"$x/meth/\" \"$x/samples.txt\" \"$x/out/\" 1"
self="\"$bin/selfgram\" \"$x/meth/\" \"$x/samples.txt\" \"$x/des/\" \"$x/out/\" 1 2 1 12"
cross="\"$bin/crossgram\" \"$x/meth/\" \"$x/samples.txt\" \"$x/des/\" \"$x/out/\" 1 2 1 12 1 12"
eig="\"$bin/grameigen\" \"$x/samples.txt\" \"$x/out/g_\" pca std \"$x/blocks/\""
stdw="\"$bin/stdweights\" \"$x/meth/\" \"$x/des/\" \"$x/out/\" pca 3 1"
cenw="\"$bin/cenweights\" \"$x/meth/\" \"$x/des/\" \"$x/out/\" pca 3 1"
notopen="is not open|cannot open|cannot read"

# A folder where a file is expected.
as_folder() { rm -f "$1"; mkdir "$1"; }
fresh; as_folder "$x/samples.txt"
expect_failure "descriptives, sample list is a folder" "$x/samples.txt.*($notopen)|($notopen).*$x/samples.txt" "$x/out/des_chr1.csv" "$desc"
fresh; as_folder "$x/meth/chr1/S01.csv"
expect_failure "descriptives, first methylation file is a folder" "S01.csv.*($notopen)" "$x/out/des_chr1.csv" "$desc"
fresh; as_folder "$x/meth/chr1/S07.csv"
expect_failure "descriptives, a later methylation file is a folder" "S07.csv.*($notopen)" "$x/out/des_chr1.csv" "$desc"
fresh; as_folder "$x/des/des_chr2.csv"
expect_failure "selfgram, descriptives file is a folder" "des_chr2.csv.*($notopen)" "$x/out/diag_1.12_.csv" "$self"
fresh; as_folder "$x/meth/chr2/S05.csv"
expect_failure "selfgram, methylation file is a folder" "S05.csv.*($notopen)" "$x/out/diag_1.12_.csv" "$self"
fresh; as_folder "$x/samples.txt"
expect_failure "crossgram, sample list is a folder" "samples.txt.*($notopen)" "$x/out/rect_1.12_1.12_.csv" "$cross"
fresh; as_folder "$x/meth/chr1/S11.csv"
expect_failure "crossgram, methylation file is a folder" "S11.csv.*($notopen)" "$x/out/rect_1.12_1.12_.csv" "$cross"
fresh; as_folder "$x/samples.txt"
expect_failure "grameigen, sample list is a folder" "samples.txt.*(Is a directory|$notopen)|($notopen).*samples.txt" - "$eig"
fresh; as_folder "$x/blocks/diagst_1.6_.csv"
expect_failure "grameigen, block file is a folder" "diagst_1.6_.csv.*(Is a directory|$notopen)|($notopen).*diagst_1.6_.csv" - "$eig"
fresh; as_folder "$x/out/pca_eigenval.csv"
expect_failure "stdweights, eigenvalue file is a folder" "pca_eigenval.csv.*($notopen)" "$x/out/loadings/pca_loadings_chr1.csv" "$stdw"
fresh; as_folder "$x/des/des_chr1.csv"
expect_failure "stdweights, descriptives file is a folder" "des_chr1.csv.*($notopen)" "$x/out/loadings/pca_loadings_chr1.csv" "$stdw"
fresh; as_folder "$x/out/pca_eigenvec.csv"
expect_failure "cenweights, eigenvector file is a folder" "pca_eigenvec.csv.*($notopen)" "$x/out/loadings/pca_loadings_chr1.csv" "$cenw"
fresh; as_folder "$x/meth/chr1/S09.csv"
expect_failure "cenweights, methylation file is a folder" "S09.csv.*($notopen)" "$x/out/loadings/pca_loadings_chr1.csv" "$cenw"

# An unreadable file: root reads it anyway.
if [ "$(id -u)" = 0 ]; then
  skip "unreadable input files (chmod 000): root reads them anyway; the folder cases above stand in"
else
  fresh; chmod 000 "$x/meth/chr1/S04.csv"
  expect_failure "descriptives, unreadable methylation file" "S04.csv.*($notopen)" "$x/out/des_chr1.csv" "$desc"
  fresh; chmod 000 "$x/des/des_chr1.csv"
  expect_failure "selfgram, unreadable descriptives file" "des_chr1.csv.*($notopen)" "$x/out/diag_1.12_.csv" "$self"
  fresh; chmod 000 "$x/meth/chr1/S04.csv"
  expect_failure "stdweights, unreadable methylation file" "S04.csv.*($notopen)" "$x/out/loadings/pca_loadings_chr1.csv" "$stdw"
  chmod -R u+rw "$x"
fi

# A methylation file cut off in the middle of a line (half its bytes).
cut_half() { local n; n=$(stat -c %s "$1"); truncate -s $((n / 2 + 3)) "$1"; }
fresh; cut_half "$x/meth/chr1/S03.csv"
expect_failure "descriptives, methylation file cut off" "S03.csv.*fewer" "$x/out/des_chr1.csv" "$desc"
fresh; cut_half "$x/meth/chr1/S01.csv"
expect_failure "descriptives, coverage file cut off" "more data lines" "$x/out/des_chr1.csv" "$desc"
fresh; cut_half "$x/meth/chr2/S12.csv"
expect_failure "selfgram, methylation file cut off" "S12.csv has [0-9]+ data lines, but .*des_chr2.csv has 300 sites" "$x/out/diag_1.12_.csv" "$self"
fresh; cut_half "$x/meth/chr1/S02.csv"
expect_failure "crossgram, methylation file cut off" "S02.csv has [0-9]+ data lines, but .*des_chr1.csv has 300 sites" "$x/out/rect_1.12_1.12_.csv" "$cross"
fresh; cut_half "$x/meth/chr1/S06.csv"
expect_failure "stdweights, methylation file cut off" "S06.csv has fewer lines" "$x/out/loadings/pca_loadings_chr1.csv" "$stdw"
fresh; cut_half "$x/meth/chr1/S01.csv"
expect_failure "cenweights, first methylation file cut off" "S02.csv has more lines" "$x/out/loadings/pca_loadings_chr1.csv" "$cenw"
fresh; cut_half "$x/blocks/rectst_1.6_7.12_.csv"
expect_failure "grameigen, block file cut off" "rectst_1.6_7.12_.csv.*(holds|line)" - "$eig"
fresh; cut_half "$x/des/des_chr1.csv"
expect_failure "selfgram, descriptives file cut off" "des_chr1.csv has [0-9]+ sites" "$x/out/diag_1.12_.csv" "$self"

# More samples than the hard open-file limit: the programs that keep one file
# per sample open must refuse with the limit named; selfgram and crossgram
# must still give the unrestricted result.
big=$work/big
"$bin/methgen" --out "$big" --samples 100 --chroms 1 --sites 40 > /dev/null || { echo "methgen failed"; exit 1; }
mkdir -p "$big/des" "$big/o1" "$big/o2" "$big/res/loadings"
"$bin/descriptives" "$big/meth/" "$big/samples.txt" "$big/des/" 1 > /dev/null || { echo "descriptives on 100 samples failed"; exit 1; }
awk 'BEGIN { print "eigenvalue"; print 3; print 2; print 1 }' > "$big/res/pca_eigenval.csv"
awk 'BEGIN { print "\"\",\"PC1\",\"PC2\",\"PC3\"" } { printf "\"%s\",%.3f,%.3f,%.3f\n", $0, NR / 1000, -NR / 2000, 0.1 }' \
  "$big/samples.txt" > "$big/res/pca_eigenvec.csv"
echo EARLIER > "$big/des/des_chr1.csv.earlier"
cp "$big/des/des_chr1.csv" "$big/des/des_chr1.csv.good"
echo EARLIER > "$big/res/loadings/pca_loadings_chr1.csv"
lim="ulimit -Sn 64 && ulimit -Hn 64 &&"
mkdir -p "$big/des_lim"
if eval "$lim \"$bin/descriptives\" \"$big/meth/\" \"$big/samples.txt\" \"$big/des_lim/\" 1" > /dev/null 2>&1 &&
  cmp -s "$big/des_lim/des_chr1.csv" "$big/des/des_chr1.csv.good"; then
  echo "ok   descriptives, 100 samples under a hard limit of 64 files: same file as without the limit"
else
  echo "FAIL descriptives under a hard limit of 64 files differs from the unrestricted run"; fail_count=$((fail_count + 1))
fi
expect_failure "stdweights, 100 samples over a hard limit of 64 files" "cannot open 100 files at once: the open-file limit is 64" \
  "$big/res/loadings/pca_loadings_chr1.csv" "$lim \"$bin/stdweights\" \"$big/meth/\" \"$big/des/\" \"$big/res/\" pca 3 1"
expect_failure "cenweights, 100 samples over a hard limit of 64 files" "cannot open 100 files at once: the open-file limit is 64" \
  "$big/res/loadings/pca_loadings_chr1.csv" "$lim \"$bin/cenweights\" \"$big/meth/\" \"$big/des/\" \"$big/res/\" pca 3 1"
for o in o1 o2; do
  pre=""; [ $o = o2 ] && pre=$lim
  ( eval "$pre \"$bin/selfgram\" \"$big/meth/\" \"$big/samples.txt\" \"$big/des/\" \"$big/$o/\" 1 1 1 100" &&
    eval "$pre \"$bin/crossgram\" \"$big/meth/\" \"$big/samples.txt\" \"$big/des/\" \"$big/$o/\" 1 1 1 50 51 100" ) > /dev/null 2>&1 \
    || { echo "FAIL selfgram/crossgram on 100 samples ($o)"; fail_count=$((fail_count + 1)); }
done
if diff -r "$big/o1" "$big/o2" > /dev/null; then
  echo "ok   selfgram and crossgram, 100 samples under a hard limit of 64 files: same blocks as without the limit"
else
  echo "FAIL selfgram/crossgram under a hard limit of 64 files differ from the unrestricted run"; fail_count=$((fail_count + 1))
fi
faults_finish
