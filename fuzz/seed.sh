#!/usr/bin/env bash
# Rebuilds the seed corpora fuzz/corpus/<target>/ from the end-to-end test
# inputs (distinct files of at most 2 KB, at most 40 per target) and a few
# hand-written number fields. Run it after adding test cases; the corpora
# are kept in the repository.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cases=$root/tests/e2e/cases
corpus=$root/fuzz/corpus
rm -rf "$corpus"
mkdir -p "$corpus"

add() {  # target prefix-byte files...
  local t=$1 pre=$2; shift 2
  mkdir -p "$corpus/$t"
  local n=0 f h
  for f in "$@"; do
    [ "$(stat -c %s "$f")" -le 2048 ] || continue
    h=$( { printf "$pre"; cat "$f"; } | sha1sum | cut -c1-16)
    [ -e "$corpus/$t/$h" ] && continue
    { printf "$pre"; cat "$f"; } > "$corpus/$t/$h"
    n=$((n + 1)); [ $n -ge 40 ] && break
  done
  return 0
}
mapfile -t meth < <(find "$cases" -path '*/in/*' -path '*chr*/*' -name '*.csv' ! -name 'des_*' ! -path '*loadings*' | sort)
mapfile -t des < <(find "$cases" -path '*/in/*' -name '*des_chr*.csv' | sort)
mapfile -t lists < <(find "$cases" -path '*/in/*' \( -name samples.txt -o -name list.txt \) | sort)
mapfile -t eigen < <(find "$cases" -path '*/in/*' \( -name '*_eigenval.csv' -o -name '*_eigenvec.csv' \) | sort)

add descriptives_fields '' "${meth[@]}"
add gram_fields '' "${meth[@]}" "${des[@]}"
add loadings_fields '' "${meth[@]}"
add gram_des '\002' "${des[@]}" "${meth[@]}"
add loadings_des '' "${des[@]}"
add descriptives_samples '' "${lists[@]}"
add gram_samples '' "${lists[@]}"
add eigen '\002' "${eigen[@]}"
add eigen '\003' "${eigen[@]}"

mkdir -p "$corpus/numparse"
i=0
for v in 0.5 -0.25 1e-5 ' +3.75e+2' '.5' '5.' 0 -0 00012 1234567890123456789012 \
         9007199254740993 0.1000000000000000055511151231257827 4.9e-324 2.2250738585072011e-308 \
         1e308 1e400 -1e-400 inf -Infinity nan -nan 'nan(123)' 0x1p-3 0X1.8P+1 '0x' \
         NA '' ' ' $'0.5\r' '1,2' '12abc' '2147483648' '-2147483649' '99999999999999999999' \
         '1e99999999999999' '0.000000000000000000000000000001e30' $'\t\n\v\f\r 7'; do
  printf '%s' "$v" > "$corpus/numparse/$(printf %02d $i)"
  i=$((i + 1))
done
mkdir -p "$corpus/grameigen_blocks"
g=$corpus/grameigen_blocks
printf '\001%s' $'1.000000000000000e+00,2.500000000000000e-01\n2.500000000000000e-01,3.000000000000000e+00\n' > "$g/diag2"
printf '\001%s' $'1.0e+00,2.5e-01\r\n2.5e-01,3.0e+00' > "$g/diag2_crlf"
printf '\031%s' $'-1.5e-03,0,7.25e+02\n.5,5.,-0\n' > "$g/rect2x3"
printf '\000%s' $'4.940656458412465e-324\n' > "$g/diag1"
printf '\003%s' $'1,2,3,4\n5,6,7,8\n9,1e400,1,2\n3,4,5,6\n' > "$g/diag4_inf"
printf '\000%s' 'diagst_1.12_.csv' > "$g/name_diag"
printf '\000%s' 'rectst_1.3_4.6_.csv' > "$g/name_rect"
printf '\000%s' 'rect_999999999.999999999_1.2_.csv' > "$g/name_cen"
for t in "$corpus"/*; do echo "$(basename "$t"): $(ls "$t" | wc -l) seeds"; done
