#!/usr/bin/env bash
# Installs every Debian package that the builds and the test suites need (as
# root, or through sudo). Quick and silent when all of them are there; the
# tests themselves install nothing. `setup.sh host` installs only what the
# host program's build needs (the demo), without Wine and the cross tools.
set -euo pipefail

host_packages=(
  # Host build and unit tests (make: cmake only recommends it); xxHash's
  # header, compiled in, so the program needs no library of it
  cmake make g++ libgtest-dev diffutils python3 libxxhash-dev
)
packages=(
  "${host_packages[@]}"
  # The source tree's shape (function sizes)
  clang-tidy
  # regswitch.exe: the cross build, Wine, the about box on a virtual display
  mingw-w64 g++-mingw-w64-i686 wine wine64 wine32:i386
  xvfb xauth xdotool imagemagick
  # Checks of the PE image and its instructions
  python3-pefile python3-capstone
  # Independent readers of Windows 9x registry files
  libcreg-utils python3-libcreg
  # libcreg for the merge fuzz target, which reads every save with it
  libcreg-dev libbfio-dev
  # --image: mtools writes the FAT file systems, QEMU's qemu-nbd serves
  # images in other formats; the image tests make disks with sfdisk,
  # mkfs.fat and qemu-img and check them with fsck.fat
  mtools dosfstools fdisk qemu-utils
  # libFuzzer
  clang libclang-rt-14-dev
  # scripts/bench.sh
  time
  # The manual page, installing and the Debian package (label install)
  mandoc groff-base man-db dpkg-dev file lintian
)

if [ "${1:-}" = host ]; then
  packages=("${host_packages[@]}")
elif [ $# -gt 0 ]; then
  echo "usage: setup.sh [host]" >&2
  exit 2
fi

missing=()
for pkg in "${packages[@]}"; do
  dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q ' installed$' ||
    missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "setup: installing ${missing[*]}"
# wine32 is the i386 build of Wine, for the 32-bit prefix.
if [[ " ${missing[*]} " == *:i386* ]] &&
  ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  "${missing[@]}" >/dev/null
