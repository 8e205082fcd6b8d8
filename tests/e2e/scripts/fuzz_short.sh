#!/usr/bin/env bash
# A short fuzzing pass: builds the fuzz targets (clang, libFuzzer, ASan,
# UBSan) beside the build tree, replays every regression input and runs each
# target for 20000 inputs or 6 seconds, whichever comes first. Skipped when
# clang cannot build fuzz targets here, and in the sanitizer tree (the
# targets carry their own sanitizers; one pass is enough).
set -u
bin=$1 src=$2
case $(cd "$bin/.." && pwd) in *asan*) echo "fuzz pass runs in the Release tree only"; exit 77 ;; esac
cxx=""
for c in clang++ clang++-14; do command -v "$c" >/dev/null && { cxx=$c; break; }; done
[ -n "$cxx" ] || { echo "clang++ not installed: skipped (fuzz/build.sh installs it)"; exit 77; }
probe=$(mktemp -d)
trap 'rm -rf "$probe"' EXIT
printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' > "$probe/p.cpp"
"$cxx" -fsanitize=fuzzer,address,undefined "$probe/p.cpp" -o "$probe/p" > /dev/null 2>&1 \
  || { echo "$cxx cannot link libFuzzer targets (libclang-rt-*-dev missing): skipped"; exit 77; }
export FUZZ_CXX=$cxx FUZZ_BUILD_DIR=$(cd "$bin/.." && pwd)/fuzz FUZZ_MAX_TIME=6 FUZZ_MAX_LEN=1024
exec "$src/fuzz/run.sh" 20000
