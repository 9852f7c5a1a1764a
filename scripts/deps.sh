#!/usr/bin/env bash
# Installs the packages ZuvoBox needs to build and test on Debian/Ubuntu, when missing.
# Uses apt-get as root, or through sudo when that is available; otherwise says what to
# install and stops.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  libudev-dev libgtest-dev libgmock-dev
  clang libclang-rt-dev
  qt6-base-dev qt6-base-dev-tools
  umockdev libumockdev-dev
  g++-mingw-w64-x86-64-posix wine64 wine googletest
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  apt_get=(apt-get)
elif command -v sudo >/dev/null 2>&1; then
  apt_get=(sudo apt-get)
else
  echo "Please install as root: apt-get install ${missing[*]}" >&2
  exit 1
fi
export DEBIAN_FRONTEND=noninteractive
"${apt_get[@]}" update -qq
"${apt_get[@]}" install -y -qq --no-install-recommends "${missing[@]}"
