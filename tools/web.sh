#!/usr/bin/env bash
# Builds the page (build-web: the engine in WebAssembly with Debian's emscripten) and serves it
# on http://localhost:8080, a secure context, which Web Serial needs. Open that address in
# Chrome, Edge, Opera or Firefox 151 or later; Ctrl-C stops the server.
#
#   bash tools/web.sh               # installs what is missing, builds, serves
#   bash tools/web.sh --build-only  # builds build-web (its tests included) and stops
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-web}
bash tools/deps.sh cmake ninja-build g++ python3 emscripten googletest
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then bash tools/deps.sh nodejs npm; fi
# Debian's emscripten finds its own JavaScript modules only through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
if [ ! -f "$build/build.ninja" ]; then
  emcmake cmake -S . -B "$build" -G Ninja -DMORVA_WERROR=ON -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build"
[ "${1:-}" = --build-only ] && exit 0
echo "Morva in the browser: http://localhost:8080/"
exec python3 tools/web/serve.py "$build/page" 8080
