#!/usr/bin/env bash
# Installs the Debian packages that building and testing need, when any is missing.
#   --demo  also what the demo needs to show the window without a display and take screenshots
#   --fuzz  also clang and its sanitizer runtime, for the libFuzzer harnesses
#   --format  also clang-format, for scripts/check-format.sh
#   --windows  also the MinGW-w64 cross compiler, Qt's host tools, Wine and msitools with wixl (the MSI), for
#              the Windows build
set -euo pipefail

packages=(cmake ninja-build g++ qt6-base-dev libsqlite3-dev fonts-dejavu-core)
for flag in "$@"; do
  case "$flag" in
    --demo) packages+=(xvfb xauth imagemagick xdotool fonts-liberation2) ;;
    --fuzz) packages+=(clang libclang-rt-dev) ;;
    --format) packages+=(clang-format) ;;
    --windows) packages+=(qt6-base-dev-tools g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64
                          msitools wixl xz-utils) ;;
    *) echo "install-deps.sh: unknown option $flag" >&2; exit 2 ;;
  esac
done

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
