#!/usr/bin/env bash
# stdweights and cenweights with 1000 samples under a soft open-file limit of
# 1024: the programs raise the limit as needed and walk all files in step. The
# loadings are checked against an independent awk computation in the same
# order of operations. Then a hard limit below the sample count, where the
# files are read in turns, must give the same loadings.
set -u
bin=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
n=1000 sites=20 K=3
mkdir -p meth/chr5 des res/loadings

# Inputs: values, eigen files and descriptives, all generated.
awk -v n=$n -v sites=$sites -v K=$K 'BEGIN {
  srand(7)
  for (i = 0; i < n; i++) {
    f = sprintf("meth/chr5/S%04d.csv", i)
    print "coord,value" > f
    for (s = 0; s < sites; s++) {
      v = (s == 3) ? 0.5 : int(rand() * 1000) / 1000
      printf "%d,%s\n", 100 * (s + 1), v > f
      x[s] += v; xx[s] += v * v
    }
    close(f)
  }
  print "coord,mean,SD" > "des/des_chr5.csv"
  for (s = 0; s < sites; s++) {
    m = x[s] / n; var = (xx[s] - n * m * m) / (n - 1); if (var < 1e-12) var = 0
    printf "%d,%.15g,%.15g\n", 100 * (s + 1), m, sqrt(var) > "des/des_chr5.csv"
  }
  print "\"\",\"PC1\",\"PC2\",\"PC3\",\"PC4\"" > "res/a_eigenvec.csv"
  for (i = 0; i < n; i++) {
    line = sprintf("\"S%04d\"", i)
    for (k = 0; k <= K; k++) line = line sprintf(",%.6f", rand() - 0.5)
    print line > "res/a_eigenvec.csv"
  }
  print "x" > "res/a_eigenval.csv"
  print "812.5\n97.25\n3.125\n1" > "res/a_eigenval.csv"
}'

# Reference: the loadings formula, sum in ascending sample order.
reference() {  # $1 = std or cen
  awk -F, -v n=$n -v K=$K -v mode=$1 '
    FILENAME == "res/a_eigenval.csv" { if (FNR > 1) lam[FNR - 2] = $1 + 0; next }
    FILENAME == "res/a_eigenvec.csv" { if (FNR > 1) for (k = 0; k < K; k++) v[FNR - 2, k] = $(k + 2) + 0; next }
    FILENAME == "des/des_chr5.csv" { if (FNR > 1) { mean[FNR - 2] = $2 + 0; sd[FNR - 2] = $3 + 0 }; next }
    FNR == 1 { i = nfile++; next }
    { s = FNR - 2; val[i, s] = $2 + 0; if (s + 1 > S) S = s + 1 }
    END {
      for (k = 0; k < K; k++) c[k] = 1.0 / (sqrt(n - 1) * sqrt(lam[k]))
      line = "block"; for (k = 1; k <= K; k++) line = line ",pc" k; print line
      for (s = 0; s < S; s++) {
        for (i = 0; i < n; i++)
          if (mode == "cen") z[i] = val[i, s] - mean[s]
          else z[i] = (sd[s] > 1e-10) ? (val[i, s] - mean[s]) / sd[s] : 0.0
        line = s + 1
        for (k = 0; k < K; k++) {
          sum = 0.0
          for (i = 0; i < n; i++) sum = sum + (z[i] * v[i, k]) * c[k]
          line = line "," sprintf("%.15g", sum)
        }
        print line
      }
    }' res/a_eigenval.csv res/a_eigenvec.csv des/des_chr5.csv meth/chr5/S*.csv
}

fail=0
for prog in stdweights cenweights; do
  mode=std; [ $prog = cenweights ] && mode=cen
  out=$( (ulimit -Sn 1024 && "$bin/$prog" meth/ des/ res/ a $K 5) 2>err)
  status=$?
  if [ $status != 0 ] || [ -s err ]; then
    echo "$prog: status $status"; echo "$out" | tail -3; cat err; fail=1; continue
  fi
  if ! cmp -s res/loadings/a_loadings_chr5.csv <(reference $mode); then
    echo "$prog: loadings differ from the reference"
    diff res/loadings/a_loadings_chr5.csv <(reference $mode) | head; fail=1
  fi
  rm -f res/loadings/a_loadings_chr5.csv
done

# A hard limit below the number of samples: the files are read in turns,
# each reopened where it stopped, with the same loadings.
out=$( (ulimit -n 200 && "$bin/stdweights" meth/ des/ res/ a $K 5) 2>err)
status=$?
if [ $status != 0 ] || [ -s err ] || ! cmp -s res/loadings/a_loadings_chr5.csv <(reference std); then
  echo "low hard limit: status $status"; echo "$out" | tail -2; cat err; fail=1
fi
[ $fail = 0 ] && echo "ok"
exit $fail
