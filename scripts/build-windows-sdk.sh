#!/usr/bin/env bash
# Builds the Windows (x86_64, MinGW-w64) SDK that Corvane's Windows build links against, from Debian's own
# source packages: Qt 6.4.2 qtbase (Core, Gui, Widgets, Test, the windows/offscreen platform plugins and the
# styles; no network, sql, opengl, dbus, icu, tablet) and SQLite 3.40.1 (one DLL). About 40 minutes on 2 cores.
#   build-windows-sdk.sh OUT.tar.xz   writes the prefix (qt6-mingw/) packed into OUT.tar.xz
set -euo pipefail
out=$(readlink -f "${1:?usage: build-windows-sdk.sh OUT.tar.xz}")
work=$(mktemp -d)
prefix=$work/qt6-mingw
export DEBIAN_FRONTEND=noninteractive

apt-get install -y -qq --no-install-recommends cmake ninja-build qt6-base-dev qt6-base-dev-tools tcl xz-utils \
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev dpkg-dev >/dev/null
# Source packages come from the same archive as the binary ones.
if ! grep -rqs "deb-src" /etc/apt/sources.list /etc/apt/sources.list.d/; then
  for f in /etc/apt/sources.list.d/*.sources; do
    sed 's/^Types: deb$/Types: deb-src/' "$f" >"${f%.sources}-src.sources"
  done
  apt-get update -qq
fi
cd "$work"
apt-get source --download-only qt6-base=6.4.2+dfsg-10 sqlite3 >/dev/null 2>&1
tar xf qt6-base_6.4.2+dfsg.orig.tar.xz
tar xf sqlite3_3.40.1.orig.tar.xz

cat >"$work/mingw.cmake" <<'TC'
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC

cmake -S qtbase-everywhere-src-6.4.2 -B qtbuild -G Ninja -DCMAKE_TOOLCHAIN_FILE="$work/mingw.cmake" \
  -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
  -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=ON \
  -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_icu=OFF \
  -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF \
  -DFEATURE_tabletevent=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
  -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
  -DFEATURE_system_doubleconversion=OFF >/dev/null
cmake --build qtbuild --parallel "$(nproc)"
cmake --install qtbuild >/dev/null

mkdir -p sqlbuild && (cd sqlbuild && ../sqlite3-3.40.1/configure >/dev/null && make sqlite3.c >/dev/null)
x86_64-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -shared -static-libgcc -o "$prefix/bin/sqlite3.dll" \
  sqlbuild/sqlite3.c -Wl,--out-implib,"$prefix/lib/libsqlite3.dll.a"
cp sqlbuild/sqlite3.h "$prefix/include/"
# The MinGW runtime DLLs that every executable built with this toolchain needs beside it.
for dll in libstdc++-6.dll libgcc_s_seh-1.dll; do
  cp "$(x86_64-w64-mingw32-g++-posix -print-file-name=$dll)" "$prefix/bin/"
done
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/bin/"

tar -C "$work" -cJf "$out" qt6-mingw
rm -rf "$work"
echo "$out"
