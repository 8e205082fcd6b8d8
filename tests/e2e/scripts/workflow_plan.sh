#!/usr/bin/env bash
# Unit tests of the workflow's planning helper (blocks, runs, memory fit,
# file names); they need python3 only, not snakemake.
# Usage: bash workflow_plan.sh <bin dir> <source dir>
set -euo pipefail
command -v python3 >/dev/null 2>&1 || { echo "SKIP: python3 is not installed"; exit 77; }
cd "$2"
exec python3 -m unittest -q tests/workflow/test_plan.py
