#!/usr/bin/env bash
# Checks the Windows packages as a user would meet them, each in an empty Wine prefix:
#   the portable ZIP unpacked into an empty folder runs corvanectl.exe with nothing else on the path;
#   the installer installs silently, the installed corvanectl.exe lists a simulated agent, the uninstaller
#   removes it silently and leaves nothing of Corvane behind.
#   check-windows-packages.sh ZIP SETUP FAKE_AGENT_EXE
set -euo pipefail
zip=$(readlink -f "$1")
setup=$(readlink -f "$2")
fake_agent=$(readlink -f "$3")
root=$(cd "$(dirname "$0")/.." && pwd)
sdk=${CORVANE_WINDOWS_SDK:-$root/build/qt6-mingw}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
wine=/usr/lib/wine/wine64
export WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset WINEPATH QT_PLUGIN_PATH
version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")

fail() { echo "check-windows-packages: $*" >&2; exit 1; }
fresh_prefix() {
  WINEPREFIX=$1 "$wine" wineboot -i >/dev/null 2>&1
  WINEPREFIX=$1 /usr/lib/wine/wineserver64 -w
}
# A simulated agent, written by the test helper (which, unlike the packages, may use the SDK's DLLs).
"$root/scripts/wine-run.sh" "$sdk" "$work/helper-prefix" "$fake_agent" init "Z:${work//\//\\}\\agent" >/dev/null
WINEPREFIX=$work/helper-prefix /usr/lib/wine/wineserver64 -w
agent="Z:${work//\//\\}\\agent"
expect_list() { # PREFIX EXE
  local listed
  listed=$(WINEPREFIX=$1 "$wine" "$2" --agent-root "$agent" list) || fail "$2 list failed"
  grep -q "Office Tools" <<<"$listed" || fail "$2 list did not show the simulated agent: $listed"
}

echo "-- Portable ZIP"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$work/unpacked/Corvane-$version-win64
for file in corvane.exe corvanectl.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll sqlite3.dll libstdc++-6.dll \
  libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll README.txt; do
  [ -f "$folder/$file" ] || fail "the ZIP lacks $file"
done
fresh_prefix "$work/zip-prefix"
[ "$(WINEPREFIX=$work/zip-prefix "$wine" "$folder/corvanectl.exe" --version)" = "corvanectl $version" ] ||
  fail "corvanectl.exe --version from the ZIP"
expect_list "$work/zip-prefix" "$folder/corvanectl.exe"
WINEPREFIX=$work/zip-prefix /usr/lib/wine/wineserver64 -k || true

echo "-- Installer"
prefix=$work/setup-prefix
fresh_prefix "$prefix"
WINEPREFIX=$prefix "$wine" "$setup" /S
WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -w
installed="$prefix/drive_c/Program Files/Corvane"
[ -f "$installed/corvanectl.exe" ] || fail "the installer did not install corvanectl.exe"
[ -f "$installed/Uninstall.exe" ] || fail "the installer wrote no uninstaller"
find "$prefix/drive_c" -ipath '*Start Menu*' -iname 'Corvane.lnk' | grep -q . ||
  fail "the installer made no Start-menu entry"
grep -qi 'Uninstall\\\\Corvane' "$prefix/system.reg" || fail "the installer registered no uninstaller"
expect_list "$prefix" "$installed/corvanectl.exe"
WINEPREFIX=$prefix "$wine" "$installed/Uninstall.exe" /S
WINEPREFIX=$prefix /usr/lib/wine/wineserver64 -w
left=$(find "$prefix/drive_c" -iname '*corvane*'; grep -il corvane "$prefix"/*.reg || true)
[ -z "$left" ] || fail "the uninstaller left: $left"
echo "Windows packages: ZIP and installer checked"
