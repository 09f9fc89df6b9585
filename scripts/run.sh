#!/usr/bin/env bash
# Installs what is missing, builds, and starts QuillonStudio.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$(nproc)"

if [ -x build/bin/QuillonStudio ]; then
  exec build/bin/QuillonStudio
else
  echo "The library is built (build/lib/libqor-2.8.0.so); the QuillonStudio application is not built yet."
fi
