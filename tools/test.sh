#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors (the dev preset, in
# build/), and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake --preset dev
cmake --build --preset dev
ctest --preset dev
