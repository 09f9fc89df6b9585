#!/usr/bin/env bash
# Builds the fuzz targets (clang, libFuzzer, ASan+UBSan), makes seed corpora
# and runs every target for SECONDS seconds (default 60), then reports the
# executions, coverage and findings of each. Usage: scripts/fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true

cmake --preset fuzz >/dev/null
cmake --build build-fuzz -j "$(nproc)"

work=build-fuzz/work
mkdir -p "$work"/seeds/{kwb,flc,gif,avi}
build-fuzz/bin/make_seeds "$work/seeds"
if command -v convert >/dev/null; then
  convert -size 12x9 xc:red -page +2+1 -size 5x4 xc:blue -loop 0 "$work/seeds/gif/anim.gif" || true
  convert -size 16x8 xc: +noise Random -interlace GIF "$work/seeds/gif/noise.gif" || true
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for t in build-fuzz/bin/fuzz_*; do targets+=("$(basename "$t")"); done
fi

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
status=0
printf '%-14s %12s %8s %8s %s\n' target execs cov ft findings
for t in "${targets[@]}"; do
  kind=${t#fuzz_}
  corpus="$work/corpus/$kind"
  mkdir -p "$corpus" "$work/findings/$kind"
  seeds="$work/seeds/$kind"
  dict=fuzz/dict/$kind.dict
  args=(-max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536
        -artifact_prefix="$work/findings/$kind/" -print_final_stats=1)
  [ -f "$dict" ] && args+=(-dict="$dict")
  log="$work/$t.log"
  if ! "build-fuzz/bin/$t" "${args[@]}" "$corpus" "$seeds" >"$log" 2>&1; then status=1; fi
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  ft=$(grep -o 'ft: [0-9]*' "$log" | tail -1 | grep -o '[0-9]*' || echo 0)
  found=$(find "$work/findings/$kind" -type f | wc -l)
  printf '%-14s %12s %8s %8s %s\n' "$t" "$execs" "$cov" "$ft" "$found"
done
exit $status
