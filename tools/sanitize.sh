#!/usr/bin/env bash
# Builds everything once more under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer (the sanitize preset, in build-asan/), and runs the whole test suite there but
# the soak, which the ordinary build runs; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
cmake --preset sanitize
cmake --build --preset sanitize
ctest --preset sanitize
