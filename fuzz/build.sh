#!/usr/bin/env bash
# Builds the fuzz targets (libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer) into build-fuzz/bin/. Installs clang and its
# runtime libraries when missing (as root; otherwise says what is missing).
# Usage: fuzz/build.sh [target ...]     (default: every target)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${FUZZ_BUILD_DIR:-$root/build-fuzz}
jobs=${FUZZ_JOBS:-2}

CXX=${FUZZ_CXX:-}
if [ -z "$CXX" ]; then
  for c in clang++ clang++-14; do command -v "$c" >/dev/null && { CXX=$c; break; }; done
fi
probe() {  # can $CXX link a fuzzer?
  [ -n "$CXX" ] || return 1
  local d; d=$(mktemp -d)
  printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$d/p.cpp"
  "$CXX" -fsanitize=fuzzer,address,undefined "$d/p.cpp" -o "$d/p" >/dev/null 2>&1
  local s=$?; rm -rf "$d"; return $s
}
if ! probe; then
  "$root/scripts/deps.sh" clang libclang-rt-14-dev
  for c in clang++ clang++-14; do command -v "$c" >/dev/null && { CXX=$c; break; }; done
  probe || { echo "clang++ cannot build libFuzzer targets" >&2; exit 1; }
fi

# Target name -> its sources beyond the target file (relative to the root).
common="common/numparse.cpp common/linereader.cpp common/instep.cpp common/outfile.cpp common/matrix.cpp common/sysutil.cpp common/numformat.cpp common/process.cpp common/rowops.cpp"
gramkernel="innerprod/gram_kernel.cpp innerprod/gram_kernel_ref.cpp innerprod/gram_kernel_sse2.cpp innerprod/gram_kernel_avx2.cpp innerprod/gram_kernel_avx512.cpp innerprod/gram_kernel_avx512vl.cpp"
declare -A deps=(
  [numparse]="common/numparse.cpp"
  [descriptives_fields]="$common descriptives/des_readers.cpp"
  [descriptives_samples]="$common descriptives/des_readers.cpp"
  [gram_fields]="$common common/gram_readers.cpp"
  [gram_samples]="$common common/gram_readers.cpp"
  [gram_des]="$common common/gram_readers.cpp innerprod/gram_io.cpp innerprod/gram_blocks.cpp $gramkernel"
  [loadings_fields]="$common"
  [loadings_des]="$common loadcalc/eigen_readers.cpp"
  [eigen]="$common loadcalc/eigen_readers.cpp"
)
# Sources built with an instruction set of their own (chosen at run time).
declare -A isa_flags=(
  [loadcalc/loadings_kernel_avx2.cpp]="-mavx2"
  [loadcalc/loadings_kernel_avx512.cpp]="-mavx512f"
  [innerprod/gram_kernel_avx2.cpp]="-mavx2"
  [innerprod/gram_kernel_avx512.cpp]="-mavx512f"
  [innerprod/gram_kernel_avx512vl.cpp]="-mavx512f -mavx512vl"
)
# The version line, as the CMake build defines it.
isa_flags[common/process.cpp]="-DMETHPCA_VERSION=\"$(sed -n 's/^project(methpca VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")\""
if [ -f "$root/grameigen/blocks.cpp" ]; then
  deps[grameigen_blocks]="$common grameigen/blocks.cpp grameigen/input.cpp"
fi

if [ $# -gt 0 ]; then targets=("$@"); else targets=("${!deps[@]}"); fi

flags=(-std=c++20 -O1 -g -fno-omit-frame-pointer -ffp-contract=off -fno-fast-math
       -fsanitize=address,undefined -fno-sanitize-recover=undefined
       -I"$root/common" -I"$root/descriptives" -I"$root/loadcalc" -I"$root/innerprod"
       -I"$root/grameigen" -I"$root/fuzz/targets")
mkdir -p "$out/obj" "$out/bin"

# Objects of the project's sources once (instrumented for coverage), then one
# link per target.
srcs=$(for t in "${targets[@]}"; do [ -n "${deps[$t]:-}" ] || { echo "unknown target $t" >&2; exit 1; }; echo ${deps[$t]}; done | tr ' ' '\n' | sort -u)
compile() {  # source object extra-flags...
  local src=$1 obj=$2; shift 2
  if [ ! -f "$obj" ] || [ "$src" -nt "$obj" ] || [ -n "$(find "$(dirname "$src")" "$root/common" "$root/fuzz/targets" -name '*.h' -newer "$obj" -print -quit)" ]; then
    "$CXX" "${flags[@]}" -fsanitize=fuzzer-no-link "$@" -c "$src" -o "$obj"
  fi
}
export -f compile; export CXX root
pids=()
for s in $srcs; do
  obj="$out/obj/$(echo "$s" | tr / _).o"
  # shellcheck disable=SC2086
  compile "$root/$s" "$obj" ${isa_flags[$s]:-} &
  pids+=($!)
  if [ ${#pids[@]} -ge "$jobs" ]; then wait "${pids[0]}"; pids=("${pids[@]:1}"); fi
done
for p in "${pids[@]}"; do wait "$p"; done
for t in "${targets[@]}"; do
  objs=()
  for s in ${deps[$t]}; do objs+=("$out/obj/$(echo "$s" | tr / _).o"); done
  "$CXX" "${flags[@]}" -fsanitize=fuzzer "$root/fuzz/targets/$t.cpp" "${objs[@]}" -o "$out/bin/fuzz_$t"
  echo "built $out/bin/fuzz_$t"
done
