#!/usr/bin/env bash
# Builds morva-cli.exe and the desktop program morva.exe for 64-bit (build-win64) and 32-bit
# (build-win32) Windows with mingw-w64, checks that they need no DLL beyond Windows' own, and
# runs the Wine tests with the 64-bit build against the Linux vk350-sim (the desktop cases on
# an Xvfb display of their own).
#
# MORVA_LINUX_BUILD: the Linux build directory whose vk350-sim the tests use (default: build;
# when that has not been configured, the simulator alone is built in build-win64/linux-sim).
set -euo pipefail
cd "$(dirname "$0")/.."

# The 32-bit Wine (i386 architecture) is left out on purpose: adding it upgrades many system
# packages. The 32-bit program is built and linked only.
packages=(cmake ninja-build g++ libgtest-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine wine64
          fonts-wine xvfb imagemagick)
bash tools/deps.sh "${packages[@]}"

configure_windows() {  # configure_windows DIR ARCH
  cmake -S . -B "$1" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$2.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DMORVA_WERROR=ON -DMORVA_GUI=ON -DMORVA_BENCH=OFF -DMORVA_TESTS=ON \
    --no-warn-unused-cli >/dev/null
}

# Only Windows' own DLLs may be imported: the C++ runtime is linked in (-static).
check_imports() {  # check_imports OBJDUMP EXE
  local dll bad=0
  for dll in $("$1" -p "$2" | awk '/DLL Name:/ {print $3}'); do
    case "${dll,,}" in
      kernel32.dll | msvcrt.dll | user32.dll | gdi32.dll | advapi32.dll | shell32.dll | \
        comdlg32.dll | ole32.dll | ws2_32.dll) ;;
      *) echo "$2 imports $dll, which Windows does not have" >&2; bad=1 ;;
    esac
  done
  return $bad
}

configure_windows build-win64 x86_64
python3 tools/check_layers.py build-win64/module_graph.txt .
cmake --build build-win64 -j2
check_imports x86_64-w64-mingw32-objdump build-win64/frontends/cli/morva-cli.exe
check_imports x86_64-w64-mingw32-objdump build-win64/frontends/win32/morva.exe

configure_windows build-win32 i686
cmake --build build-win32 -j2 --target morva-cli morva
check_imports i686-w64-mingw32-objdump build-win32/frontends/cli/morva-cli.exe
check_imports i686-w64-mingw32-objdump build-win32/frontends/win32/morva.exe

linux_build=${MORVA_LINUX_BUILD:-build}
if [ ! -f "$linux_build/CMakeCache.txt" ]; then
  linux_build=build-win64/linux-sim
  cmake -S . -B "$linux_build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVA_MODULES=sim \
    -DMORVA_TESTS=OFF -DMORVA_BENCH=OFF -DMORVA_GUI=OFF >/dev/null
fi
cmake --build "$linux_build" -j2 --target vk350-sim

bash tests/wine/run.sh --cli build-win64/frontends/cli/morva-cli.exe \
  --unit build-win64/tests/wine/win32_tests.exe \
  --gui build-win64/frontends/win32/morva.exe \
  --driver build-win64/tests/wine/desktop_driver.exe \
  --desktop-tests build-win64/tests/wine/win32_desktop_tests.exe \
  --sim "$linux_build/sim/vk350-sim" --work build-win64/wine
