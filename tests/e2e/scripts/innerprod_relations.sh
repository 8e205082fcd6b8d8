#!/usr/bin/env bash
# Relations between the block files of selfgram and crossgram:
#  - crossgram with the row block equal to the column block writes the same
#    numbers as selfgram for that block;
#  - swapping crossgram's blocks transposes its files;
#  - a run over chromosomes 1-2 equals, cell by cell within the printed
#    precision, the sum of the runs over chromosome 1 and over chromosome 2.
set -euo pipefail
bin=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
mkdir -p data/chr1 data/chr2 des out
awk 'BEGIN {
  srand(7);
  for (i = 1; i <= 8; i++) print "P" i > "samples.txt";
  for (c = 1; c <= 2; c++) {
    n = c == 1 ? 3100 : 1700;
    des = "des/des_chr" c ".csv";
    print "coord,mean,sd" > des;
    for (k = 0; k < n; k++) printf "%d,%.6f,%s\n", k, 0.3 + rand() / 2, (k % 97 == 5) ? "0" : sprintf("%.6f", 0.02 + rand() / 4) > des;
    for (i = 1; i <= 8; i++) {
      f = "data/chr" c "/P" i ".csv";
      print "pos,beta" > f;
      for (k = 0; k < n; k++) printf "%d,%.5f\n", k, rand() > f;
    }
  }
}'
run() { "$bin/$1" data/ samples.txt des/ out/ "${@:2}" > /dev/null; }
fail=0
note() { echo "$*"; fail=1; }

# Same block: crossgram equals selfgram.
run selfgram 1 2 2 7
run crossgram 1 2 2 7 2 7
cmp -s out/diag_2.7_.csv out/rect_2.7_2.7_.csv || note "rect_ differs from diag_ for the same block"
cmp -s out/diagst_2.7_.csv out/rectst_2.7_2.7_.csv || note "rectst_ differs from diagst_ for the same block"

# Swapped blocks transpose.
transpose() {
  awk -F, '{ for (j = 1; j <= NF; j++) a[NR, j] = $j; if (NF > nf) nf = NF }
           END { for (j = 1; j <= nf; j++) { s = a[1, j]; for (i = 2; i <= NR; i++) s = s "," a[i, j]; print s } }' "$1"
}
run crossgram 1 2 1 3 4 8
run crossgram 1 2 4 8 1 3
for t in rect rectst; do
  cmp -s <(transpose out/${t}_1.3_4.8_.csv) out/${t}_4.8_1.3_.csv || note "${t}_4.8_1.3_ is not the transpose of ${t}_1.3_4.8_"
done

# Blocks that overlap (their common samples' files read once): every cell
# is the cell of the whole diagonal block, bit for bit.
n=$(wc -l < samples.txt)
run selfgram 1 2 1 "$n"
run crossgram 1 2 1 5 3 "$n"
for t in "" st; do
  awk -F, -v n="$n" 'NR <= 5 { s = $3; for (j = 4; j <= n; j++) s = s "," $j; print s }' \
    out/diag${t}_1.${n}_.csv | cmp -s - out/rect${t}_1.5_3.${n}_.csv ||
    note "rect${t}_1.5_3.${n}_ differs from the cells of diag${t}_1.${n}_"
done

# Chromosomes 1-2 = chromosome 1 + chromosome 2, within printed precision.
sum_check() {  # sum_check <whole> <part1> <part2>
  paste -d, "$1" "$2" "$3" | awk -F, -v name="$1" '{
    n = NF / 3;
    for (j = 1; j <= n; j++) {
      w = $j; a = $(j + n); b = $(j + 2 * n); d = w - (a + b); if (d < 0) d = -d;
      m = (a < 0 ? -a : a) + (b < 0 ? -b : b);
      if (d > 1e-12 * m + 1e-300) { printf "%s line %d value %d: %s != %s + %s\n", name, NR, j, w, a, b; bad = 1 }
    }
  } END { if (NR == 0) bad = 1; exit bad }'
}
for p in selfgram crossgram; do
  if [ $p = selfgram ]; then set -- 3 6; files="diag_3.6_ diagst_3.6_"; else set -- 1 4 5 8; files="rect_1.4_5.8_ rectst_1.4_5.8_"; fi
  for chr in "1 2" "1 1" "2 2"; do
    run $p $chr "$@"
    for f in $files; do mv out/$f.csv out/${f}chr${chr// /-}.csv; done
  done
  for f in $files; do
    sum_check out/${f}chr1-2.csv out/${f}chr1-1.csv out/${f}chr2-2.csv || note "$p: chromosomes 1-2 are not the sum of 1 and 2 ($f)"
  done
done
exit $fail
