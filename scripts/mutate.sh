#!/usr/bin/env bash
# Plants each fault patch alone in the working tree, rebuilds, runs the
# suite until its first failure, and takes the patch out again; then says
# which patches the suite caught and which it missed. CI does not run this.
#
#   bash scripts/mutate.sh [-B build-dir] [-R ctest-regex] PATCH...
#
# A patch that does not apply or does not build is reported as such, never
# as missed. Uses an existing build folder (default build/).
set -uo pipefail
cd "$(dirname "$0")/.."

build=build
only=()
while getopts "B:R:" opt; do
  case $opt in
    B) build=$OPTARG ;;
    R) only=(-R "$OPTARG") ;;
    *) exit 2 ;;
  esac
done
shift $((OPTIND - 1))
[ $# -gt 0 ] || { echo "usage: $0 [-B build-dir] [-R regex] PATCH..." >&2; exit 2; }

export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)
caught=0 missed=0 broken=0
for patch in "$@"; do
  name=$(basename "$patch" .patch)
  log=$build/mutate-$name.log
  if ! git apply "$patch" 2>"$log"; then
    echo "$name: does not apply"; broken=$((broken + 1)); continue
  fi
  if ! cmake --build "$build" -j "$jobs" >>"$log" 2>&1; then
    verdict="does not build"; broken=$((broken + 1))
  elif ctest --test-dir "$build" -j "$jobs" --stop-on-failure --timeout 300 "${only[@]}" \
      >>"$log" 2>&1; then
    verdict="MISSED"; missed=$((missed + 1))
  else
    first=$(grep -m1 -E '\*\*\*(Failed|Exception|Timeout)' "$log" | sed -E 's/.*Test +#[0-9]+: ([^ ]+).*/\1/')
    verdict="caught by ${first:-?}"; caught=$((caught + 1))
  fi
  git apply -R "$patch"
  echo "$name: $verdict"
done
# Rebuilt as the tree stands, so the folder is left as it was found.
cmake --build "$build" -j "$jobs" >/dev/null 2>&1
echo "caught $caught, missed $missed, not run $broken"
