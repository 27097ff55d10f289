#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing; with
# arguments, those packages instead (the fuzzing and Windows scripts name theirs).
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev qt6-base-dev python3)
[ $# -gt 0 ] && packages=("$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq -o DPkg::Lock::Timeout=900 "${missing[@]}"
fi
