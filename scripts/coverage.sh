#!/usr/bin/env bash
# Builds the project with gcov instrumentation, runs the whole suite, and
# reports the lines and branches of libqor/, platform/, app/ and fittexts/
# that it executed, file by file. CI does not run this.
#
#   bash scripts/coverage.sh [-B build-dir] [-R ctest-regex]
#
# Writes, in the build folder: coverage.json (every line and branch, for
# later reports), lines.txt and branches.txt (a row a file, the lines or
# branches never run listed), and html/index.html (each file's source with
# what was run marked). Branches the compiler adds for exceptions are left
# out, so the branches counted are the code's own decisions. A failing test
# is reported but does not stop the report.
set -uo pipefail
cd "$(dirname "$0")/.."

build=build-coverage
only=()
while getopts "B:R:" opt; do
  case $opt in
    B) build=$OPTARG ;;
    R) only=(-R "$OPTARG") ;;
    *) exit 2 ;;
  esac
done

bash scripts/install-deps.sh
# gcovr reports only; the README's commands do not need it, so it is not
# on the install list.
if ! command -v gcovr >/dev/null; then
  DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends gcovr
fi

jobs=$(nproc)
export QT_QPA_PLATFORM=offscreen
flags=--coverage
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" \
  -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_SHARED_LINKER_FLAGS="$flags" \
  -DCMAKE_MODULE_LINKER_FLAGS="$flags" || exit 1
cmake --build "$build" -j "$jobs" || exit 1

# Counts from an earlier run would be added to this one's.
find "$build" -name '*.gcda' -delete
ctest --test-dir "$build" -j "$jobs" --timeout 900 "${only[@]}" >"$build/ctest.log" 2>&1
status=$?
tail -n 3 "$build/ctest.log"

filters=(--filter 'libqor/' --filter 'platform/' --filter 'app/' --filter 'fittexts/')
gcovr -r . --object-directory "$build" "${filters[@]}" -j "$jobs" \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --json "$build/coverage.json" || exit 1

# Each layer compiles against a tree of links to the source folders (see
# CMakeLists.txt), so gcov names some files by a link: each is named by its
# own path, and gcovr adds the counts of the two names together.
python3 - "$build/coverage.json" <<'PY'
import json, os, sys
data = json.load(open(sys.argv[1]))
for f in data["files"]:
    f["file"] = os.path.relpath(os.path.realpath(f["file"]))
json.dump(data, open(sys.argv[1], "w"))
PY

report() { gcovr -r . --add-tracefile "$build/coverage.json" "$@"; }
report --txt "$build/lines.txt"
report --branches --txt "$build/branches.txt"
mkdir -p "$build/html"
report --html-details "$build/html/index.html"
report --print-summary --txt /dev/null

echo "per file: $build/lines.txt, $build/branches.txt, $build/html/index.html"
[ "$status" -eq 0 ] || echo "some tests failed: $build/ctest.log"
exit 0
