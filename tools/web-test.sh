#!/usr/bin/env bash
# The page's CI stage: the engine's unit tests compiled to WebAssembly and run under node, then
# the page in headless Chromium, worked by keyboard and mouse as a person would, through the
# browser's real serial stack against vk350-sim on pseudo-terminals (tools/lib/web_ports.sh),
# its files the browser's own downloads and file choosers. Prints one PASS or FAIL line per
# case, then "N passed, N failed"; exits non-zero on any failure. The run's files stay in
# build-web/web-stage.
#
#   bash tools/web-test.sh     # installs its packages, builds build-web and the simulator
#
# MORVA_LINUX_BUILD names a native build that has vk350-sim and morva-cli (.ci/run passes the
# one its test stage made); without it a small native build of the two is made here. Under
# CI=true a machine that cannot run the stage fails it; elsewhere the stage says why not.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 2
build=${BUILD_DIR:-build-web}
native=${MORVA_LINUX_BUILD:-$build/native}
work=$(realpath -m "$build/web-stage")

stage_name="web stage"
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh
# shellcheck source=tools/lib/web_ports.sh
source tools/lib/web_ports.sh

if [ -z "${MORVA_WEB_NAMESPACE:-}" ]; then
  began=$SECONDS
  bash tools/deps.sh chromium >/dev/null || cannot_run "chromium could not be installed"
  bash tools/web.sh --build-only || cannot_run "the page could not be built"
  echo "web stage: the page built in $((SECONDS - began)) s"
  ctest --test-dir "$build" -L web --output-on-failure || { echo "FAIL the engine's unit tests under node"; exit 1; }
  if [ ! -x "$native/sim/vk350-sim" ] || [ ! -x "$native/frontends/cli/morva-cli" ]; then
    [ -f "$native/build.ninja" ] || cmake -S . -B "$native" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DMORVA_GUI=OFF -DMORVA_TESTS=OFF -DMORVA_BENCH=OFF >/dev/null || cannot_run "no native build"
    cmake --build "$native" --target vk350-sim morva-cli >/dev/null || cannot_run "vk350-sim did not build"
  fi
  (cd tools/web && { [ -d node_modules/puppeteer-core ] || npm ci --no-audit --no-fund --loglevel=error; }) ||
    cannot_run "puppeteer-core could not be installed"
  echo "web stage: ready in $((SECONDS - began)) s"
  MORVA_LINUX_BUILD=$native enter_web_namespace "$0" || cannot_run "no private mount namespace (unshare)"
fi

# Inside the namespace.
vk350sim=$(realpath "$native/sim/vk350-sim")
rm -rf "$work"
mkdir -p "$work/files" "$work/downloads"
hide_serial_ports || cannot_run "a real serial port could not be hidden"
trap 'stop_simulators; [ -n "${server:-}" ] && kill "$server" 2>/dev/null' EXIT

# Four devices: a good one (with a memory of known content), one whose third block command is
# refused once, a silent one, and one that goes away in the middle of a block.
head -c 1048576 /dev/urandom >"$work/a.mem"
cp "$work/a.mem" "$work/a.initial"
start_simulator a --memory "$work/a.mem" &&
  start_simulator b --fault "nak@command:3/once" &&
  start_simulator c --fault "silence@wakeup" &&
  start_simulator d --fault "vanish@data:20=100" || cannot_run "vk350-sim did not start"
for i in 0 1 2 3; do
  name=$(printf 'abcd' | cut -c$((i + 1)))
  bind_port "$i" "$(cat "$work/$name.pty")" || cannot_run "cannot bind a pty over ${web_nodes[$i]}"
done
port=$(free_port)
origin="http://127.0.0.1:$port"
declare_ports "$work" "$origin" || cannot_run "the ports could not be declared"
check_bound_ports || { echo "FAIL web stage: the bound nodes are not the simulators' ptys"; echo "0 passed, 1 failed"; exit 1; }
# The check itself refuses a node that is not its pty (here: ttyS0 said to be d's).
if (web_bound[0]="/dev/ttyS0 $(cat "$work/d.pty")"; check_bound_ports 2>/dev/null); then
  echo "FAIL web stage: the safety check passed a node bound to another pty"
  echo "0 passed, 1 failed"
  exit 1
fi

python3 tools/web/serve.py "$build/page" "$port" >"$work/server.log" 2>&1 &
server=$!
MORVA_WEB_VERBOSE="${MORVA_WEB_VERBOSE:-}" MORVA_WEB_CASES="${MORVA_WEB_CASES:-}" MORVA_URL="$origin/" MORVA_WORK="$work" MORVA_SERVER_PID=$server node tools/web/browser_test.mjs
