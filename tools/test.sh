#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -G Ninja -DMORVA_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$build" --output-on-failure -j 2
