#!/usr/bin/env bash
# Installs what is missing, then builds and runs every test twice: a normal
# build and an AddressSanitizer + UndefinedBehaviorSanitizer build; then runs
# every fuzz target for FUZZ_SECONDS seconds (default 30; 0 skips them) and
# fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
# ffmpeg, which many cases run as a peer, reads keys from standard input and
# stops encoding at a "q"; whatever the caller's input holds must not reach it.
exec </dev/null

bash scripts/install-deps.sh

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$PWD/tests/lsan.supp:print_suppressions=0

run_suite() {
  local dir=$1; shift
  cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
  cmake --build "$dir" -j "$jobs"
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure
}

echo "=== normal build ==="
run_suite build
echo "=== sanitizer build ==="
run_suite build-asan -DQOR_SANITIZE=ON

fuzz_seconds=${FUZZ_SECONDS:-30}
if [ "$fuzz_seconds" -gt 0 ]; then
  echo "=== fuzz targets, ${fuzz_seconds} s each ==="
  bash scripts/fuzz.sh -j "$(( jobs > 4 ? 4 : jobs ))" "$fuzz_seconds"
fi
