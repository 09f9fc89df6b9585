#!/usr/bin/env bash
# Installs what is missing, builds, and starts QuillonStudio.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)" --target QuillonStudio

exec build/bin/QuillonStudio "$@"
