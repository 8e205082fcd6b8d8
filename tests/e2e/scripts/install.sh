#!/usr/bin/env bash
# `cmake --install` into a temporary prefix: the programs in bin/ (no plain
# twins, benchmarks or test tools), the workflow and the docs under share/;
# every installed program answers --version with the one version line of
# project(VERSION); the installed workflow, given no bin_dir, runs the
# installed programs and gives byte for byte the build tree's results.
# Usage: bash install.sh <bin dir> <source dir>
set -euo pipefail
bin=$(cd "$1" && pwd)
src=$(cd "$2" && pwd)
build=$(dirname "$bin")
command -v cmake >/dev/null || { echo "SKIP: cmake is missing"; exit 77; }
[ -f "$build/cmake_install.cmake" ] || { echo "SKIP: $build is not a configured build folder"; exit 77; }

# The programs a user runs: the install list of the top CMakeLists (fullgram,
# weights and pcscores once they are built).
programs="descriptives selfgram crossgram grameigen stdweights cenweights methprep methgen fullgram weights pcscores"
expected=()
for p in $programs; do [ -x "$bin/$p" ] && expected+=("$p"); done
[ ${#expected[@]} -ge 8 ] || { echo "SKIP: the programs are not all built in $bin"; exit 77; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
P=$tmp/prefix
cmake --install "$build" --prefix "$P" > "$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; echo "FAIL: cmake --install"; exit 1; }
fail=0
bad() { echo "FAIL: $*"; fail=1; }

# File list.
got=$(cd "$P/bin" && ls | sort)
want=$(printf '%s\n' "${expected[@]}" | sort)
[ "$got" = "$want" ] || bad "P/bin holds [$(echo $got)], not [$(echo $want)]"
for f in Snakefile plan.py config.yaml profiles/slurm/config.yaml; do
  [ -f "$P/share/methpca/workflow/$f" ] || bad "share/methpca/workflow/$f is missing"
done
[ -z "$(find "$P" -name __pycache__ -o -name '*.pyc')" ] || bad "compiled Python files were installed"
for f in README.md docs/workflow.md docs/grameigen_demo_cen.png; do
  [ -f "$P/share/doc/methpca/$f" ] || bad "share/doc/methpca/$f is missing"
done
[ -z "$(find "$P" -name '*_plain' -o -name 'bench_*' -o -name 'test_*' -o -name covgen -o -name roadcheck -o -name '*.so')" ] ||
  bad "a plain twin, benchmark or test tool was installed"
[ "$(find "$P" -type f | grep -v -e "^$P/bin/" -e "^$P/share/methpca/workflow/" -e "^$P/share/doc/methpca/" || true)" = "" ] ||
  bad "files outside bin/, share/methpca/workflow/, share/doc/methpca/"
echo "installed: $(echo $got)"

# --version: alone and among other arguments, one line, status 0, the same
# version everywhere.
version=$(sed -n 's/^project(methpca VERSION \([0-9.]*\).*/\1/p' "$src/CMakeLists.txt")
[ -n "$version" ] || bad "no project(VERSION) in CMakeLists.txt"
for p in "${expected[@]}"; do
  for args in "--version" "x --version y"; do
    status=0
    out=$("$P/bin/$p" $args 2> "$tmp/err") || status=$?
    [ $status = 0 ] && [ "$out" = "methpca $version" ] && [ ! -s "$tmp/err" ] ||
      bad "$p $args: status $status, output [$out], standard error [$(cat "$tmp/err")]"
  done
done
echo "every program: methpca $version"

# The installed workflow without bin_dir, against the road run by hand with
# the build tree's programs.
if ! command -v snakemake >/dev/null 2>&1; then
  echo "SKIP (workflow part): snakemake is not installed"
  exit $fail
fi
. "$src/tests/e2e/scripts/lib/workflow_lib.sh"
cd "$tmp"
wf_dataset
sed -i '/^bin_dir:/d' cfg.yaml
if ! snakemake -s "$P/share/methpca/workflow/Snakefile" --configfile cfg.yaml --cores 2 -p > run.log 2>&1; then
  cat run.log
  bad "the installed workflow did not complete"
  exit 1
fi
grep -q "$P/bin/grameigen" run.log || bad "the installed workflow did not run $P/bin/grameigen"
! grep -q "$bin/" run.log || bad "the installed workflow ran programs of the build tree"
wf_hand_road
wf_compare wf || fail=1
[ $fail = 0 ] && echo "installed workflow: results identical to the build tree's road"
exit $fail
