#!/usr/bin/env bash
# methprep's caller layouts (bedmethyl, cpgreport, methyldackel, allc), each
# written from one set of per-strand read counts and checked against the
# counts route on the same counts: the same files, byte for byte (values X / N
# alike), per strand and with --merge-strands; lines of other contexts and
# modification codes are skipped and counted; malformed lines are refused.
set -u
bin=$(cd "$1" && pwd)
mp=$bin/methprep
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
fails=0
fail() { echo "FAIL: $*"; fails=$((fails + 1)); }

# Per sample: CpGs at positions 101, 111, ... of chr1 and chr2; each C (the
# + one at p, the - one at p + 1) has 5mC, 5hmC and unmethylated reads, some
# none at all, some C missing. Every layout is written from these counts,
# sorted by position as the callers write them, and so are the counts files
# of the reference route: per strand (counts_s) and merged (counts_m), for 5mC
# + 5hmC as bisulfite reads them (cpgreport, allc, methyldackel, bedmethyl mh)
# and for 5mC or 5hmC alone (bedmethyl m, h).
for s in 1 2 3 4; do
  awk -v seed=$s -v s=$s '
    function emit(chr, p, st, m, h, c,   n, bm, sep, tail, pct) {
      n = m + h + c
      # Reference counts: X methylated of N (bisulfite: 5mC and 5hmC both read as methylated).
      printf "%s\t%d\t%d\t%d\n", chr, p, n, m + h > FCS
      printf "%s\t%d\t%d\t%d\n", chr, p, n, m > FCMS
      printf "%s\t%d\t%d\t%d\n", chr, p, n, h > FCHS
      key = chr "\t" (st == "+" ? p : p - 1)
      mX[key] += m + h; mN[key] += n; mm[key] += m; mh[key] += h
      if (!(key in order)) { order[key] = ++nkeys; keys[nkeys] = key }
      printf "%s\t%d\t%s\t%d\t%d\tCG\tCG%s\n", chr, p, st, m + h, c, (p % 3 ? "A" : "T") > FCPG
      if (p % 7 == 0) printf "%s\t%d\t%s\t0\t%d\tCHG\tCAG\n", chr, p + 2, st, c > FCPG
      cn = substr(chr, 4)
      printf "%s\t%d\t%s\tCG%s\t%d\t%d\t%d\n", cn, p, st, (p % 3 ? "A" : "T"), m + h, n, (m + h > c) > FALLC
      if (p % 5 == 0) printf "%s\t%d\t%s\tCHH\t0\t%d\t0\n", cn, p + 3, st, c > FALLC
      if (n > 0) {
        pct = int(100 * (m + h) / n)
        printf "%s\t%d\t%d\t%d\t%d\t%d\n", chr, p - 1, p, pct, m + h, c > FMD
        # modkit rows: one per code, N_valid_cov = mod + canonical + other; sample 2 all tabs.
        sep = s == 2 ? "\t" : " "
        printf "%s\t%d\t%d\tm\t%d\t%s\t%d\t%d\t255,0,0\t%d%s%.2f%s%d%s%d%s%d%s0%s%d%s0%s1\n", chr, p - 1, p, n, st, p - 1, p, \
          n, sep, 100 * m / n, sep, m, sep, c, sep, h, sep, sep, p % 2, sep, sep > FBED
        printf "%s\t%d\t%d\th\t%d\t%s\t%d\t%d\t255,0,0\t%d%s%.2f%s%d%s%d%s%d%s0%s%d%s0%s1\n", chr, p - 1, p, n, st, p - 1, p, \
          n, sep, 100 * h / n, sep, h, sep, c, sep, m, sep, sep, p % 2, sep, sep > FBED
        if (st == "-" && p % 4 == 0)  # a 6mA row of the next base, skipped
          printf "%s\t%d\t%d\ta\t%d\t%s\t%d\t%d\t255,0,0\t%d %.2f 0 %d 0 0 0 0 0\n", chr, p + 1, p + 2, n, st, p + 1, p + 2, \
            n, 0, n > FBED
      }
    }
    BEGIN {
      srand(seed)
      FCS = "counts_s" s ".txt"; FCMS = "countsm_s" s ".txt"; FCHS = "countsh_s" s ".txt"
      FCPG = "s" s ".CpG_report.txt"; FALLC = "s" s ".allc.tsv"; FMD = "s" s "_CpG.bedGraph"; FBED = "s" s ".bed"
      print "track type=\"bedGraph\" description=\"s" s " CpG methylation levels\"" > FMD
      print "chr\tpos\tN\tX" > FCS; print "chr\tpos\tN\tX" > FCMS; print "chr\tpos\tN\tX" > FCHS
      for (c = 1; c <= 2; ++c)
        for (i = 0; i < 60; ++i) {
          p = 101 + 10 * i
          for (k = 0; k < 2; ++k) {
            if (rand() < 0.1) continue  # this C is missing from the file
            z = rand() < 0.1  # no reads
            emit("chr" c, k ? p + 1 : p, k ? "-" : "+", z ? 0 : int(rand() * 9), z ? 0 : int(rand() * 3), z ? 0 : int(rand() * 9))
          }
        }
      for (f = 1; f <= 3; ++f) {
        out = (f == 1 ? "counts_m" : f == 2 ? "countsm_m" : "countsh_m") s ".txt"
        print "chr\tpos\tN\tX" > out
        for (j = 1; j <= nkeys; ++j) {
          key = keys[j]
          printf "%s\t%d\t%d\n", key, mN[key], f == 1 ? mX[key] : f == 2 ? mm[key] : mh[key] > out
        }
      }
    }'
done
ls s1.CpG_report.txt s1.allc.tsv s1_CpG.bedGraph s1.bed counts_m1.txt > /dev/null || { echo "FAIL: test data not written"; exit 1; }
printf 's1\ns2\ns3\ns4\n' > names.txt

# Runs methprep on four inputs named s1..s4; $1 the output folder.
prep() {
  local out=$1; shift
  "$mp" -q --min-samples 0.5 --min-coverage 2 --names names.txt --out "$out" "$@" > "$out.out" || fail "run $out: $(cat "$out.out")"
}
same() { diff -r "$1" "$2" > /dev/null || fail "$2 differs from $1: $(diff -r "$1" "$2" | head -5)"; }

prep ref_s --format counts counts_s?.txt
prep ref_m --format counts counts_m?.txt
prep refm_s --format counts countsm_s?.txt
prep refm_m --format counts countsm_m?.txt
prep refh_m --format counts countsh_m?.txt
prep refh_s --format counts countsh_s?.txt
[ "$(ls ref_m/meth/chr1 | wc -l)" = 4 ] && [ "$(wc -l < ref_m/meth/chr1/s1.csv)" -gt 30 ] || fail "reference output too small"

prep cpg_s --format cpgreport s?.CpG_report.txt
same ref_s cpg_s
prep cpg_m --format cpgreport --merge-strands s?.CpG_report.txt
same ref_m cpg_m
grep -q "skipped [1-9][0-9]* lines of other modification codes or contexts" cpg_m.out || fail "cpgreport: no skipped count"
prep allc_s --format allc s?.allc.tsv
same ref_s allc_s
prep allc_m --format allc --merge-strands s?.allc.tsv
same ref_m allc_m
prep md_s --format methyldackel s?_CpG.bedGraph
# Lines without reads are not in the bedGraph: compare what both cover.
diff -r ref_s/meth md_s/meth > /dev/null || fail "methyldackel differs from counts"
prep bm_mh_s --format bedmethyl --mod mh s?.bed
diff -r ref_s/meth bm_mh_s/meth > /dev/null || fail "bedmethyl mh differs from counts"
prep bm_mh_m --format bedmethyl --mod mh --merge-strands s?.bed
diff -r ref_m/meth bm_mh_m/meth > /dev/null || fail "bedmethyl mh merged differs from counts"
prep bm_m_m --format bedmethyl --merge-strands s?.bed
diff -r refm_m/meth bm_m_m/meth > /dev/null || fail "bedmethyl m merged differs from counts"
prep bm_m_s --format bedmethyl --mod m s?.bed
diff -r refm_s/meth bm_m_s/meth > /dev/null || fail "bedmethyl m differs from counts"
prep bm_h_m --format bedmethyl --mod h --merge-strands s?.bed
diff -r refh_m/meth bm_h_m/meth > /dev/null || fail "bedmethyl h merged differs from counts"
grep -q "skipped" bm_m_m.out || fail "bedmethyl: h and a rows not counted as skipped"
# gzip and a pipe read alike.
gzip -c s3.bed > s3.bed.gz
"$mp" -q --format bedmethyl --merge-strands --min-samples 0.5 --min-coverage 2 --names names.txt --out bm_gz \
  s1.bed s2.bed /dev/stdin s4.bed < s3.bed.gz > /dev/null || fail "bedmethyl through a gzip pipe"
diff -r bm_m_m/meth bm_gz/meth > /dev/null || fail "bedmethyl through a gzip pipe differs"

# One known line per layout, by hand: the value is X / N exactly.
printf 'chr1\t10\t+\t1\t2\tCG\tCGA\nchr1\t11\t-\t2\t1\tCG\tCGA\nchr1\t20\t+\t0\t0\tCG\tCGT\n' > one.CpG_report.txt
"$mp" -q --format cpgreport --merge-strands --out one1 one.CpG_report.txt > /dev/null || fail "one cpgreport"
[ "$(cat one1/meth/chr1/one.CpG_report.csv)" = "$(printf 'position,value\n10,0.5')" ] ||
  fail "cpgreport merged: $(cat one1/meth/chr1/one.CpG_report.csv)"
printf '1\t10\t+\tCGA\t1\t3\t0\n1\t11\t-\tCGT\t1\t3\t0\nchr1\t12\t+\tCHG\t1\t3\t0\n' > one.allc.tsv
"$mp" -q --format allc --out one2 one.allc.tsv > /dev/null || fail "one allc"
[ "$(cat one2/meth/chr1/one.allc.csv)" = "$(printf 'position,value\n10,0.3333333333333333\n11,0.3333333333333333')" ] ||
  fail "allc: $(cat one2/meth/chr1/one.allc.csv)"
printf 'track type=bedGraph\nchr1\t9\t10\t33\t1\t2\n' > one.bedGraph
"$mp" -q --format methyldackel --out one3 one.bedGraph > /dev/null || fail "one methyldackel"
[ "$(cat one3/meth/chr1/one.csv)" = "$(printf 'position,value\n10,0.3333333333333333')" ] ||
  fail "methyldackel: $(cat one3/meth/chr1/one.csv)"
printf 'chr1\t9\t10\tm\t3\t.\t9\t10\t255,0,0\t3 33.33 1 1 1 0 0 0 0\nchr1\t9\t10\th\t3\t.\t9\t10\t255,0,0\t3 33.33 1 1 1 0 0 0 0\n' > one.bed
"$mp" -q --format bedmethyl --mod mh --merge-strands --out one4 one.bed > /dev/null || fail "one bedmethyl"
[ "$(cat one4/meth/chr1/one.csv)" = "$(printf 'position,value\n10,0.6666666666666666')" ] ||
  fail "bedmethyl mh: $(cat one4/meth/chr1/one.csv)"

# Refusals: status and message, nothing left behind.
expect_error() {
  local want=$1 status=$2; shift 2
  "$mp" -q --out bad "$@" > msg 2> /dev/null
  local rc=$?
  [ $rc = "$status" ] || fail "status $rc (want $status): $*: $(cat msg)"
  grep -qF -- "$want" msg || fail "message for $*: want '$want', got '$(cat msg)'"
  [ -e bad ] && fail "output folder left: $*"
}
printf 'chr1\t9\t10\tm\t3\t+\t9\t10\t255,0,0\t3 33.33 1 1 1 0 0 0\n' > short.bed
expect_error "short.bed:1: expected 18 fields" 1 --format bedmethyl short.bed
printf 'chr1\t9\t10\tm\t3\t+\t9\t10\t255,0,0\t3 33.33 4 1 1 0 0 0 0\n' > over.bed
expect_error "over.bed:1: N_mod 4 is larger than N_valid_cov 3" 1 --format bedmethyl over.bed
printf 'chr1\t9\t10\tm\t3\t+\t9\t10\t255,0,0\t3 33.33 1 1 1 0 0 0 0\nchr1\t9\t10\th\t4\t+\t9\t10\t255,0,0\t4 25 1 2 1 0 0 0 0\n' > pair.bed
expect_error "pair.bed:2: N_valid_cov 4 differs from 3 on line 1" 1 --format bedmethyl --mod mh pair.bed
printf 'chr1\t9\t10\tm\t3\t*\t9\t10\t255,0,0\t3 33.33 1 1 1 0 0 0 0\n' > strand.bed
expect_error 'strand.bed:1: strand "*" is not +, - or .' 1 --format bedmethyl strand.bed
printf 'chr1\t10\t+\t1\tx\tCG\tCGA\n' > bad.CpG_report.txt
expect_error 'bad.CpG_report.txt:1: count_unmethylated "x" is not a whole number of reads' 1 --format cpgreport bad.CpG_report.txt
printf 'chr1\t10\t+\t1\t2\tCG\n' > six.CpG_report.txt
expect_error "six.CpG_report.txt:1: expected 7 tab-separated fields" 1 --format cpgreport six.CpG_report.txt
printf '1\t10\t+\tCGA\t4\t3\t1\n' > over.allc.tsv
expect_error "over.allc.tsv:1: mc 4 is larger than cov 3" 1 --format allc over.allc.tsv
printf 'chr1\t9\t10\t33.3\t1\t2\n' > pct.bedGraph
expect_error 'pct.bedGraph:1: percent "33.3" is not a whole number from 0 to 100' 1 --format methyldackel pct.bedGraph
# Strands out of step: the - line of a CpG far from its + line would be a
# second site at the same position, refused.
printf 'chr1\t10\t+\t1\t2\tCG\tCGA\nchr1\t30\t+\t1\t2\tCG\tCGA\nchr1\t11\t-\t2\t1\tCG\tCGA\n' > apart.CpG_report.txt
expect_error "apart.CpG_report.txt:3: position 10 of chromosome 1 is listed twice (also on line 1)" 1 \
  --format cpgreport --merge-strands apart.CpG_report.txt
expect_error "--merge-strands: --format methyldackel has no strand column" 2 --format methyldackel --merge-strands one.bedGraph
expect_error "--merge-strands: --format bismark has no strand column" 2 --format bismark --merge-strands one.bedGraph
expect_error "--mod applies to --format bedmethyl only" 2 --format cpgreport --mod h one.CpG_report.txt
expect_error "--mod" 2 --format bedmethyl --mod x one.bed

[ $fails = 0 ] && echo "methprep formats script: all passed"
exit $((fails > 0))
