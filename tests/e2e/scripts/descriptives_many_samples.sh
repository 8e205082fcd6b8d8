#!/usr/bin/env bash
# descriptives on 1000 samples under a soft open-file limit of 1024, and under
# a soft limit of 256 that it must raise itself; the result must equal an
# independent awk computation (same order of additions, %.15g) byte for byte.
set -u
bin=$1
hard=$(ulimit -Hn)
if [ "$hard" != unlimited ] && [ "$hard" -lt 1100 ]; then
  echo "hard open-file limit $hard is below 1100: skipped"; exit 77
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$bin/methgen" --out "$work/d" --samples 1000 --chroms 2 --sites 300 --constant 0.05 > /dev/null || exit 1
mkdir "$work/o1" "$work/o2"

(ulimit -Sn 1024 && exec "$bin/descriptives" "$work/d/meth/" "$work/d/samples.txt" "$work/o1/" 2) \
  > "$work/stdout" 2> "$work/stderr"
status=$?
[ $status = 0 ] || { echo "status $status under ulimit -Sn 1024"; cat "$work/stdout"; exit 1; }
[ -s "$work/stderr" ] && { echo "standard error not empty"; cat "$work/stderr"; exit 1; }
grep -qx ' The number of coordinates is: 300' "$work/stdout" || { echo "wrong site count"; cat "$work/stdout"; exit 1; }

(ulimit -Sn 256 && exec "$bin/descriptives" "$work/d/meth/" "$work/d/samples.txt" "$work/o2/" 2) > /dev/null 2>&1 \
  || { echo "failed under ulimit -Sn 256"; exit 1; }
cmp "$work/o1/des_chr2.csv" "$work/o2/des_chr2.csv" || exit 1

# Reference: every sample's file in list order, sums per site in sample order.
sed "s|^|$work/d/meth/chr2/|; s|\$|.csv|" "$work/d/samples.txt" > "$work/files"
xargs awk -F, '
  FNR == 1 { nf++; next }
  { k = FNR - 1; v[nf, k] = $2 + 0; if (nf == 1) { c[k] = $1 + 0; n = k } }
  END {
    print "coord,mean,SD"
    for (k = 1; k <= n; k++) {
      s = 0; for (j = 1; j <= nf; j++) s += v[j, k]
      m = s / nf
      ss = 0; for (j = 1; j <= nf; j++) { d = v[j, k] - m; ss += d * d }
      var = ss / (nf - 1)
      printf "%d,%.15g,%.15g\n", c[k], m, (var > 1e-10) ? sqrt(var) : 0
    }
  }' < "$work/files" > "$work/ref.csv"
[ "$(wc -l < "$work/files")" = 1000 ] || exit 1
cmp "$work/ref.csv" "$work/o1/des_chr2.csv" || { echo "differs from the awk reference"; exit 1; }
zeros=$(awk -F, 'NR > 1 && $3 == 0' "$work/o1/des_chr2.csv" | wc -l)
[ "$zeros" -gt 0 ] || { echo "no constant site written with SD 0"; exit 1; }
echo "ok: 1000 samples x 300 sites, equal to the reference ($zeros constant sites)"
