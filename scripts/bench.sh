#!/usr/bin/env bash
# Prints Kestrane's figures: the Google Benchmark programs, then the real program on a virtual display.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
for b in "$build"/bench/*_bench; do
  echo "== $(basename "$b")"
  "$b" --benchmark_min_time=0.2
done
echo "== the program on a virtual display"
python3 "$(dirname "$0")/../bench/figures.py" "$build"
