#!/usr/bin/env bash
# The page's benchmarks, ratios in one run (never a timed test):
#  - a paced program write (vk350-sim --paced: 38400 baud both ways) through headless Chromium's
#    serial stack, against the wire's limit, beside morva-cli's write on the same simulator in
#    the same run; and the page's write again with another tab in front (its own tab hidden);
#  - what the page costs: the bytes of a first visit as served compressed (gzip), the time to
#    an interactive window, and its CPU over 10 s idle (DevTools Performance metrics).
#
#   bash bench/web_bench.sh     # after bash tools/web-test.sh has built build-web and the simulator
#
# The simulator's pty stands at /dev/ttyS0 inside a private mount namespace, checked as the
# page's stage checks it (tools/lib/web_ports.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-web}
native=${MORVA_LINUX_BUILD:-$build/native}
work=$(realpath -m "$build/web-bench")
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh
# shellcheck source=tools/lib/web_ports.sh
source tools/lib/web_ports.sh
web_nodes=(/dev/ttyS0)
web_ids=("0403 6001")
web_declared=("serial /dev/ttyS 4 64 serial")

if [ -z "${MORVA_WEB_NAMESPACE:-}" ]; then
  [ -f "$build/page/morva.wasm" ] && [ -x "$native/frontends/cli/morva-cli" ] ||
    { echo "build first: bash tools/web-test.sh" >&2; exit 1; }
  MORVA_LINUX_BUILD=$native enter_web_namespace "$0"
fi

vk350sim=$(realpath "$native/sim/vk350-sim")
rm -rf "$work"
mkdir -p "$work"
hide_serial_ports
trap 'stop_simulators; [ -n "${server:-}" ] && kill "$server" 2>/dev/null' EXIT
start_simulator paced --paced
bind_port 0 "$(cat "$work/paced.pty")"
port=$(free_port)
declare_ports "$work" "http://127.0.0.1:$port"
check_bound_ports
head -c 131072 /dev/urandom >"$work/program.upg"

began=$EPOCHREALTIME
"$native/frontends/cli/morva-cli" write program "$work/program.upg" --port "$(cat "$work/paced.pty")" --yes --quiet
cli=$(python3 -c "print($EPOCHREALTIME - $began)")

python3 tools/web/serve.py "$build/page" "$port" >"$work/server.log" 2>&1 &
server=$!
MORVA_URL="http://127.0.0.1:$port/" MORVA_WORK="$work" MORVA_CLI_SECONDS="$cli" \
  node tools/web/bench.mjs
