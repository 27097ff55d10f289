#!/usr/bin/env bash
# Builds everything once more under AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer, and runs the whole test suite there; any report fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/deps.sh
build=${BUILD_DIR:-build-asan}
cmake -S . -B "$build" -G Ninja -DMORVA_WERROR=ON -DCMAKE_BUILD_TYPE=Debug -DMORVA_SANITIZE=ON \
  -DMORVA_BENCH=OFF
cmake --build "$build"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan.supp:print_suppressions=0"
# The soak runs in the ordinary build; here every other test already meets LeakSanitizer.
ctest --test-dir "$build" --output-on-failure -j 2 -LE soak
