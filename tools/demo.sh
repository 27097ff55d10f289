#!/usr/bin/env bash
# The main job, end to end. Without MORVA_PORT it runs against the simulated controller
# (vk350-sim on a pseudo-terminal), so it needs no device: it writes a firmware image, verifies
# it and reads it back into a second file, with progress. With MORVA_PORT=/dev/ttyUSB0 it uses
# the device on that port and writes nothing into it: it finds it, reads its program into a
# file and verifies that file against it. Set PACED=1 to have the simulator move bytes at the
# real rate of 38400 baud (about 35 s per image each way).
set -euo pipefail
cd "$(dirname "$0")/.."
stage_name=demo
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh
bash tools/deps.sh
build=build  # the dev preset's
# A configured folder configures itself again when the build files change.
[ -f "$build/CMakeCache.txt" ] || quietly "configuring $build" cmake --preset dev
cmake --build --preset dev --target morva-cli vk350-sim

work=$(mktemp -d)
cleanup() {
  stop_sim 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

cli=("$build/frontends/cli/morva-cli")
sim=$build/sim/vk350-sim

if [ -n "${MORVA_PORT:-}" ]; then
  # A real controller holds someone's firmware: only read it, and check the copy.
  port=$MORVA_PORT
  "${cli[@]}" detect --port "$port"
  "${cli[@]}" read program "$work/device.upg" --port "$port"
  "${cli[@]}" verify program "$work/device.upg" --port "$port"
  cp "$work/device.upg" ./device-program.upg
  echo "The device's program is in device-program.upg and equals the device: nothing was written."
  exit 0
fi

paced=()
[ "${PACED:-0}" = 1 ] && paced=(--paced)
port="$work/vk350"
start_sim "$port" "$work/sim.out" "$work/sim.err" "${paced[@]}"
echo "Simulated Vk350 on $(head -n 1 "$work/sim.out")"

head -c 131072 /dev/urandom >"$work/firmware.upg"
"${cli[@]}" detect --port "$port"
"${cli[@]}" write program "$work/firmware.upg" --port "$port"
"${cli[@]}" verify program "$work/firmware.upg" --port "$port"
"${cli[@]}" read program "$work/readback.upg" --port "$port"
cmp "$work/firmware.upg" "$work/readback.upg"
echo "The image read back equals the image written: $(stat -c %s "$work/readback.upg") bytes."
