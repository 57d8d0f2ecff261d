#!/usr/bin/env bash
# Runs every libFuzzer target (fuzz/fuzz_<name>.cpp) for SECONDS of processor time each.
#   fuzz/run.sh SECONDS [NAME...]
# Build: build/fuzz (clang, -DPRAVEL_FUZZ=ON, AddressSanitizer + UBSan).
# Seeds: fuzz/corpus/<name>/ (read only). New inputs: build/fuzz-corpus/<name>/.
# Crashes, leaks, timeouts: build/fuzz-findings/<name>/ -- copy a finding into
# fuzz/corpus/<name>/ once fixed, so the host test run replays it from then on.
# Exit status 1 when any target produced a finding.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
seconds="${1:-60}"
shift || true
[[ "$seconds" =~ ^[0-9]+$ ]] || { echo "usage: fuzz/run.sh SECONDS [NAME...]" >&2; exit 2; }

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$here"/fuzz/fuzz_*.cpp; do
    [ -f "$f" ] || continue
    n="$(basename "$f" .cpp)"; names+=("${n#fuzz_}")
  done
fi
if [ ${#names[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets (fuzz/fuzz_*.cpp)"
  exit 0
fi

"$here/tools/setup.sh" packages deps
bdir="$here/build/fuzz"
CC=clang CXX=clang++ cmake -S "$here" -B "$bdir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DPRAVEL_FUZZ=ON >"$bdir.configure.log" 2>&1 || { cat "$bdir.configure.log"; exit 1; }
targets=()
for n in "${names[@]}"; do targets+=("fuzz_$n"); done
cmake --build "$bdir" -j2 --target "${targets[@]}"

total=0
summary=()
for n in "${names[@]}"; do
  corpus="$here/build/fuzz-corpus/$n"
  findings="$here/build/fuzz-findings/$n"
  mkdir -p "$corpus" "$findings"
  seeds=()
  [ -d "$here/fuzz/corpus/$n" ] && seeds=("$here/fuzz/corpus/$n")
  log="$here/build/fuzz-findings/$n.log"
  before=$(find "$findings" -type f | wc -l)
  echo "== fuzz_$n for $seconds s"
  # The first corpus folder receives the new inputs; the committed seeds are only read.
  # SECONDS of processor time, not of wall time: on a shared machine a wall-time limit gives a
  # target whatever the others leave it. libFuzzer ends cleanly (final stats) on SIGINT.
  set +e
  "$bdir/fuzz/fuzz_$n" -max_total_time=$((seconds * 50)) -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "${seeds[@]}" >"$log" 2>&1 &
  pid=$!
  stopped=0
  while kill -0 "$pid" 2>/dev/null; do
    ticks=$(awk '{print $14 + $15}' "/proc/$pid/stat" 2>/dev/null || echo 0)
    if [ "$((ticks / $(getconf CLK_TCK)))" -ge "$seconds" ]; then kill -INT "$pid" 2>/dev/null; stopped=1; break; fi
    sleep 1
  done
  wait "$pid"
  rc=$?
  [ "$stopped" = 1 ] && grep -q 'run interrupted' "$log" && rc=0  # the stop asked for above
  set -e
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  after=$(find "$findings" -type f | wc -l)
  new=$((after - before))
  [ "$rc" != 0 ] && [ "$new" = 0 ] && new=1  # a crash libFuzzer could not save is still one
  total=$((total + new))
  line="fuzz_$n: ${execs:-?} executions, $new new findings, corpus $(find "$corpus" -type f | wc -l) inputs"
  [ "$new" != 0 ] && line="$line (see $findings/ and $log)"
  echo "$line"
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
[ "$total" = 0 ]
