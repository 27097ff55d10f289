#!/usr/bin/env bash
# By hand, not in CI: the 32-bit Windows programs, from the unzipped win32 zip, through every
# Wine case under a 32-bit Wine. A 32-bit Wine needs the i386 architecture, which would upgrade
# many of this machine's packages; so it lives in a throwaway Debian 12 root of its own
# (debootstrap, about 3 minutes and 1 GB the first time), and every mount made for it vanishes
# with this script's mount namespace.
#
#   bash tools/wine32-check.sh [ROOT]     # ROOT defaults to /var/tmp/morva-wine32-root
#
# Needs root. Run tools/windows.sh first (it builds build-win32 and the Linux vk350-sim).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(realpath -m "${1:-/var/tmp/morva-wine32-root}")
linux_build=${MORVA_LINUX_BUILD:-build}
unzipped=$(echo build-win32/unzipped/morva-*-win32)
[ -f "$unzipped/morva.exe" ] || { echo "no unzipped win32 zip: run tools/windows.sh" >&2; exit 2; }
[ -x "$linux_build/sim/vk350-sim" ] || { echo "no $linux_build/sim/vk350-sim" >&2; exit 2; }

if [ ! -x "$root/usr/bin/wine" ]; then
  command -v debootstrap >/dev/null || DEBIAN_FRONTEND=noninteractive apt-get install -y -q debootstrap
  debootstrap --variant=minbase bookworm "$root" http://deb.debian.org/debian
  cp /etc/resolv.conf "$root/etc/resolv.conf"
  chroot "$root" bash -c 'dpkg --add-architecture i386 && apt-get update -q &&
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
      wine wine32:i386 xvfb imagemagick fonts-wine procps'
fi
cmake --build build-win32 -j2 --target win32_tests desktop_driver win32_desktop_tests

if [ -z "${MORVA_WINE32_ISOLATED:-}" ]; then
  exec unshare --mount --propagation private env MORVA_WINE32_ISOLATED=1 bash "$0" "$root"
fi
# The root must be a mount point for the Wine run's own mount namespace inside it.
mount --bind "$root" "$root"
for d in proc sys dev dev/pts "$PWD"; do
  mkdir -p "$root/$d"
  mount --rbind "/$d" "$root/$d"
done
mount -t tmpfs tmpfs "$root/tmp"
exec chroot "$root" bash -c "cd '$PWD' && bash tests/wine/run.sh --cli $unzipped/morva-cli.exe \
  --unit build-win32/tests/wine/win32_tests.exe --gui $unzipped/morva.exe \
  --driver build-win32/tests/wine/desktop_driver.exe \
  --desktop-tests build-win32/tests/wine/win32_desktop_tests.exe \
  --sim $linux_build/sim/vk350-sim --work /tmp/wine32"
