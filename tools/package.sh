#!/usr/bin/env bash
# Builds the release packages into dist/:
#   morva_<version>_amd64.deb     the Debian package: a Release build (build-release) installed
#                                 under /usr, its run-time dependencies read from the programs
#   morva-<version>-win64.zip     morva.exe and morva-cli.exe for 64-bit Windows, with the
#   morva-<version>-win32.zip     manual, the licence and a README (tools/windows.sh --zips)
#   morva-web-<version>.zip       the page (tools/web.sh), a folder any static host serves
# The version is the one of project() in CMakeLists.txt. Build trees are reused: a second run
# only builds what changed.
#
# The Linux package is the release preset's build of a fresh clone, the one the README gives,
# with warnings made errors so that a warning there fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
stage_name=package
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh
bash tools/deps.sh cmake ninja-build g++ qt6-base-dev dpkg-dev file

build=build-release  # the release preset's
quietly "configuring $build" cmake --preset release -DMORVA_WERROR=ON -DCMAKE_INSTALL_PREFIX=/usr
cmake --build --preset release
mkdir -p dist
quietly "making the Debian package" bash -c 'cd "$1" && cpack -B "$PWD/_cpack"' _ "$build"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
deb=morva_${version}_$(dpkg --print-architecture).deb
mv "$build/_cpack/$deb" dist/

bash tools/windows.sh --zips

bash tools/web.sh --build-only >/dev/null
web=morva-web-$version
rm -rf "dist/$web" "dist/$web.zip"
cp -r "${MORVA_WEB_BUILD:-build-web}/page" "dist/$web"
(cd dist && python3 -c 'import shutil, sys; shutil.make_archive(sys.argv[1], "zip", ".", sys.argv[1])' "$web")
rm -rf "dist/$web"

ls -l "dist/$deb" "dist/morva-$version-win64.zip" "dist/morva-$version-win32.zip" "dist/$web.zip"
