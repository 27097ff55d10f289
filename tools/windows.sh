#!/usr/bin/env bash
# Builds morva-cli.exe and the desktop program morva.exe for 64-bit (build-win64) and 32-bit
# (build-win32) Windows with mingw-w64, zips each pair with the manual, the licence and a README
# as dist/morva-<version>-win64.zip and dist/morva-<version>-win32.zip, checks that the zipped
# programs need no DLL beyond Windows' own, and runs the Wine tests with the 64-bit programs
# as they come out of their zip, against the Linux vk350-sim (the desktop cases on an Xvfb
# display of their own).
#
#   bash tools/windows.sh          all of that
#   bash tools/windows.sh --zips   the zips and their checks only, no tests (tools/package.sh)
#
# MORVA_LINUX_BUILD: the Linux build directory whose vk350-sim the tests use (default: build;
# when that has not been configured, the simulator alone is built in build-win64/linux-sim).
set -euo pipefail
shopt -s inherit_errexit  # a failure inside $(make_zip ...) stops the script too
cd "$(dirname "$0")/.."
zips_only=false
case "$*" in
  "") ;;
  --zips) zips_only=true ;;
  *) echo "usage: $0 [--zips]" >&2; exit 2 ;;
esac

# The 32-bit Wine (i386 architecture) is left out on purpose: adding it upgrades many system
# packages. The 32-bit program is built and linked only.
packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
          fonts-wine xvfb imagemagick)
bash tools/deps.sh "${packages[@]}"

stage_name="windows"
# shellcheck source=tools/lib/stage.sh
source tools/lib/stage.sh

# Only Windows' own DLLs may be imported: the C++ runtime is linked in (-static).
check_imports() {  # check_imports OBJDUMP EXE
  local dll dlls bad=0
  dlls=$("$1" -p "$2" | awk '/DLL Name:/ {print $3}')
  [ -n "$dlls" ] || { echo "$2: no imports found: not a Windows program?" >&2; return 1; }
  for dll in $dlls; do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | \
        comdlg32.dll | ole32.dll | ws2_32.dll) ;;
      *) echo "$2 imports $dll, which Windows does not have" >&2; bad=1 ;;
    esac
  done
  return $bad
}

# make_zip DIR SUFFIX: the programs of DIR, stripped, with what comes beside them, in a folder
# morva-<version>-SUFFIX zipped as dist/morva-<version>-SUFFIX.zip; prints the folder's name.
make_zip() {
  local version name stage
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$1/CMakeCache.txt")
  name=morva-$version-$2
  stage=$(mktemp -d)
  quietly "the install of $1" cmake --install "$1" --prefix "$stage/$name" --strip
  mkdir -p dist
  rm -f "dist/$name.zip"
  (cd "$stage" && cmake -E tar cf "$OLDPWD/dist/$name.zip" --format=zip "$name")
  rm -rf "$stage"
  echo "$name"
}

# unzip_checked ZIP DIR OBJDUMP: unpacks ZIP into DIR (emptied first) and checks that it holds
# exactly the two programs and their three companions, in one folder, importing only
# Windows' own DLLs.
unzip_checked() {
  local folder expected listing
  rm -rf "$2"
  mkdir -p "$2"
  (cd "$2" && cmake -E tar xf "$OLDPWD/$1")
  folder=$(basename "$1" .zip)
  expected=$(printf '%s\n' LICENSE.txt README-WINDOWS.txt morva-cli.exe morva-manual.html morva.exe)
  listing=$(cd "$2" && find . -type f | sed 's|^\./||' | sort)
  if [ "$listing" != "$(sed "s|^|$folder/|" <<<"$expected")" ]; then
    echo "$1 holds:" $listing "; expected them in $folder/:" $expected >&2
    return 1
  fi
  check_imports "$3" "$2/$folder/morva-cli.exe"
  check_imports "$3" "$2/$folder/morva.exe"
}

quietly "configuring build-win64" cmake --preset win64
python3 tools/check_layers.py build-win64/module_graph.txt .
if $zips_only; then
  cmake --build build-win64 -j2 --target morva-cli morva
else
  cmake --build build-win64 -j2
fi
win64=$(make_zip build-win64 win64)
unzip_checked "dist/$win64.zip" build-win64/unzipped x86_64-w64-mingw32-objdump

quietly "configuring build-win32" cmake --preset win32
cmake --build build-win32 -j2 --target morva-cli morva
win32=$(make_zip build-win32 win32)
unzip_checked "dist/$win32.zip" build-win32/unzipped i686-w64-mingw32-objdump
echo "dist/$win64.zip dist/$win32.zip: contents and imports checked"
$zips_only && exit 0

linux_build=${MORVA_LINUX_BUILD:-build}
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  linux_build=build-win64/linux-sim
  quietly "configuring $linux_build" cmake --preset release -B "$linux_build" -DMORVA_GUI=OFF
fi
cmake --build "$linux_build" -j2 --target vk350-sim

# The programs as a user gets them: from the unzipped folder.
unzipped=build-win64/unzipped/$win64
bash tests/wine/run.sh --cli "$unzipped/morva-cli.exe" \
  --unit build-win64/tests/wine/win32_tests.exe \
  --gui "$unzipped/morva.exe" \
  --driver build-win64/tests/wine/desktop_driver.exe \
  --desktop-tests build-win64/tests/wine/win32_desktop_tests.exe \
  --sim "$linux_build/sim/vk350-sim" --work build-win64/wine
