#!/usr/bin/env bash
# The Windows build from a fresh clone: installs what is missing, cross-builds Release with warnings as errors
# against the Qt + SQLite SDK, runs every test under Wine in a fresh prefix, writes the portable ZIP and the
# Windows Installer package (MSI) to build/windows/packages/, and checks both packages on an empty Wine prefix.
# The SDK: $CORVANE_WINDOWS_SDK, else build/qt6-mingw, else unpacked from ../shared/windows/, else built from
# Debian's source packages (scripts/build-windows-sdk.sh, about 40 minutes).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/install-deps.sh --windows

sdk_archive=$root/../shared/windows/qt6-mingw-6.4.2-sqlite-3.40.1.tar.xz
if [ -z "${CORVANE_WINDOWS_SDK:-}" ]; then
  export CORVANE_WINDOWS_SDK=$root/build/qt6-mingw
  if [ ! -f "$CORVANE_WINDOWS_SDK/bin/Qt6Core.dll" ]; then
    mkdir -p build
    if [ ! -f "$sdk_archive" ]; then
      echo "== Building the Windows SDK from Debian's source packages (no copy beside the clone) =="
      sdk_archive=$root/build/qt6-mingw-built.tar.xz
      bash scripts/build-windows-sdk.sh "$sdk_archive"
    fi
    rm -rf "$CORVANE_WINDOWS_SDK"
    tar -xJf "$sdk_archive" -C build
  fi
fi
echo "Windows SDK: $CORVANE_WINDOWS_SDK"

# Re-configured every time: the SDK's location is part of the cache.
cmake --preset windows -DCORVANE_WINDOWS_SDK="$CORVANE_WINDOWS_SDK" >/dev/null
cmake --build --preset windows

echo "== Tests under Wine =="
rm -rf "$root/build/windows/wineprefix"
ctest --preset windows -j2

echo "== Packages =="
(cd build/windows && cpack -C Release >/dev/null)
cmake --build --preset windows --target msi-package >/dev/null
version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
zip=$root/build/windows/packages/Corvane-$version-win64.zip
msi=$root/build/windows/packages/Corvane-$version-win64.msi
ls -l "$zip" "$msi"
bash scripts/check-windows-packages.sh "$zip" "$msi" "$root/build/windows/installer/stage" \
  "$root/build/windows/tools/fake-agent/corvane-fake-agent.exe"
echo "Windows: build, tests and packages passed"
