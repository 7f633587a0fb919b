#!/usr/bin/env bash
# Installs what the build needs on a Debian machine. Safe to run again: it does nothing when
# everything is present.
#
#   install-deps.sh run    what the Linux programs need to build and run (the README's run command)
#   install-deps.sh        everything: also the tests, both Windows cross-builds with Wine, the
#                          sanitizer and fuzzing builds and the packages (the test command)
set -euo pipefail
mode="${1:-all}"

run_pkgs=(
  cmake ninja-build g++ pkg-config
  libfmt-dev libcli11-dev nlohmann-json3-dev zlib1g-dev
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev fonts-dejavu-core
)
test_pkgs=(
  libgtest-dev libgmock-dev libbenchmark-dev
  xvfb xauth x11-apps x11-utils imagemagick
  python3-olefile cpuid dmidecode
  clang libclang-rt-14-dev
  g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev libz-mingw-w64-dev
  wine wine64 wine32:i386
  fdisk dpkg-dev unzip desktop-file-utils man-db
)

case "$mode" in
  run) pkgs=("${run_pkgs[@]}") ;;
  all) pkgs=("${run_pkgs[@]}" "${test_pkgs[@]}") ;;
  *) echo "usage: $0 [run]" >&2; exit 2 ;;
esac

missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]} == 0)); then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

# Wine's 32-bit half comes from the i386 architecture; it installs also where the kernel
# cannot run it (the test command then skips the 32-bit Windows tests and says so).
if printf '%s\n' "${missing[@]}" | grep -q ':i386$' && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
