#!/usr/bin/env bash
# Builds the transfer engine's fuzz target with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs it for a bounded time.
#
#   bash tools/fuzz.sh [SECONDS]          default 60
#   bash tools/fuzz.sh 1800               a long run; the corpus grows in build-fuzz/corpus
#   FUZZ_ARGS="-jobs=2 -workers=2" bash tools/fuzz.sh 3600    both cores
#
# The fuzzer starts from fuzz/corpus (the seeds, never written to) and from what earlier runs
# found in build-fuzz/corpus. A broken invariant or a sanitizer report stops the run; the
# input is left in build-fuzz/artifacts/ and the script exits non-zero. Replay one with
#   build-fuzz/morva_fuzz build-fuzz/artifacts/crash-...
set -euo pipefail
cd "$(dirname "$0")/.."
stage_name=fuzz
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh

seconds=${1:-60}
build=build-fuzz  # the fuzz preset's

packages=(clang-14 libclang-rt-14-dev cmake ninja-build)
bash tools/deps.sh "${packages[@]}"

# The fuzz target is the fuzz configuration of the whole project (clang, the engine compiled
# with coverage instrumentation, everything sanitized). A build folder made when the fuzz
# folder was a project of its own is configured afresh; its corpus stays.
if grep -qs '^CMAKE_HOME_DIRECTORY:INTERNAL=.*/fuzz$' "$build/CMakeCache.txt"; then
  rm -rf "$build/CMakeCache.txt" "$build/CMakeFiles"
fi
quietly "configuring $build" cmake --preset fuzz
cmake --build --preset fuzz

mkdir -p "$build/corpus" "$build/artifacts"
log="$build/fuzz.log"
echo "fuzzing for ${seconds}s; full log in $log"
set +e
# shellcheck disable=SC2086  # FUZZ_ARGS is a list of flags
"$build/morva_fuzz" -max_total_time="$seconds" -timeout=60 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" ${FUZZ_ARGS:-} "$build/corpus" fuzz/corpus >"$log" 2>&1
status=$?
set -e

grep -E 'invariant broken|ERROR: |SUMMARY: ' "$log" | head -20 || true
last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
echo "last status: ${last:-none}"
runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
echo "executions: ${runs:-?}  cov: ${cov:-?}  ft: ${ft:-?}  exec/s: ${speed:-?}  corpus: $(ls "$build/corpus" | wc -l) files"
if [ "$status" -ne 0 ]; then
  echo "the fuzzer stopped on a finding (exit $status); inputs in $build/artifacts/" >&2
  ls "$build/artifacts" >&2
  exit 1
fi
