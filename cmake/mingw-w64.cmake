# Cross build for 64-bit Windows with Debian's MinGW-w64 (POSIX threads) against the Qt + SQLite SDK.
# The SDK prefix is $CORVANE_WINDOWS_SDK, else build/qt6-mingw (where scripts/windows.sh unpacks or builds it).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

if(DEFINED ENV{CORVANE_WINDOWS_SDK} AND NOT "$ENV{CORVANE_WINDOWS_SDK}" STREQUAL "")
  set(CORVANE_WINDOWS_SDK "$ENV{CORVANE_WINDOWS_SDK}" CACHE PATH "Qt + SQLite prefix for Windows")
else()
  set(CORVANE_WINDOWS_SDK "${CMAKE_CURRENT_LIST_DIR}/../build/qt6-mingw" CACHE PATH "Qt + SQLite prefix for Windows")
endif()
get_filename_component(CORVANE_WINDOWS_SDK "${CORVANE_WINDOWS_SDK}" ABSOLUTE)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 "${CORVANE_WINDOWS_SDK}")
set(CMAKE_PREFIX_PATH "${CORVANE_WINDOWS_SDK}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# moc and rcc run on this machine: Debian's qt6-base-dev-tools of the same version.
set(QT_HOST_PATH /usr)
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)

set(SQLite3_INCLUDE_DIR "${CORVANE_WINDOWS_SDK}/include")
set(SQLite3_LIBRARY "${CORVANE_WINDOWS_SDK}/lib/libsqlite3.dll.a")

# Test executables run under Wine; the wrapper gives each run its prefix and the SDK's DLLs.
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;${CORVANE_WINDOWS_SDK};${CMAKE_BINARY_DIR}/wineprefix")
