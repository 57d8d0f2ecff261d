#!/usr/bin/env bash
# Builds and runs the benchmarks (bench/bench_<name>.cpp, Google Benchmark) natively in Release.
#   bench/run.sh [FILTER] [BENCHMARK OPTIONS...]
# FILTER is a --benchmark_filter regular expression applied to every program; programs without
# a matching benchmark print nothing. Build: build/bench (-DPRAVEL_BENCH=ON).
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
filter="${1:-.}"
shift || true

names=()
for f in "$here"/bench/bench_*.cpp; do
  [ -f "$f" ] && names+=("$(basename "$f" .cpp)")
done
if [ ${#names[@]} -eq 0 ]; then
  echo "bench: no benchmarks (bench/bench_*.cpp)"
  exit 0
fi

"$here/tools/setup.sh" packages testdata
bdir="$here/build/bench"
cmake -S "$here" -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DPRAVEL_BENCH=ON \
  >"$bdir.configure.log" 2>&1 || { cat "$bdir.configure.log"; exit 1; }
cmake --build "$bdir" -j2 --target "${names[@]}"

rc=0
for n in "${names[@]}"; do
  echo "== $n"
  "$bdir/bench/$n" --benchmark_filter="$filter" "$@" || rc=1
done
exit $rc
