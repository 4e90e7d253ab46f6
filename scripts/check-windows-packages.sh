#!/usr/bin/env bash
# Checks the Windows packages as a user would meet them, in one empty Wine prefix:
#   the portable ZIP unpacked into an empty folder runs corvanectl.exe with nothing else on the path;
#   the MSI of a lower version installs silently (files, Start-menu entry, uninstall entry), and the installed
#   corvanectl.exe lists a simulated agent;
#   this version's MSI upgrades it while Corvane and a "corvanectl sync" run: Corvane is closed cleanly (its
#   settings saved) and replaced, corvanectl.exe cannot be closed, so the run ends with "restart required"
#   (3010) and its files are replaced at the restart; one entry is left in the installed programs;
#   removal while Corvane runs: it is closed and nothing of the package is left, the technician's settings are;
#   installing over a running Corvane that an earlier setup left in the same folder: it is closed, replaced;
#   the lower version over this one is refused.
#   check-windows-packages.sh ZIP MSI STAGE FAKE_AGENT_EXE   (STAGE: the MSI's staged folder, for the lower one)
set -euo pipefail
zip=$(readlink -f "$1")
msi=$(readlink -f "$2")
stage=$(readlink -f "$3")
fake_agent=$(readlink -f "$4")
root=$(cd "$(dirname "$0")/.." && pwd)
sdk=${CORVANE_WINDOWS_SDK:-$root/build/qt6-mingw}
work=$(mktemp -d)
export WINEPREFIX=$work/prefix WINEDEBUG=-all WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=d;mshtml=d"
unset WINEPATH QT_PLUGIN_PATH QT_QPA_PLATFORM
wine=/usr/lib/wine/wine64
cleanup() {
  /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
version=$(sed -n 's/^project(Corvane VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
patch=${version##*.}
[ "$patch" -gt 0 ] || { echo "check-windows-packages: no lower version below $version" >&2; exit 1; }
lower=${version%.*}.$((patch - 1))

fail() { echo "check-windows-packages: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }
# msiexec's own exit status, through cmd (Wine passes on only its low 8 bits). Each run logs to msiexec.log,
# which a failed check shows in part.
msiexec_status() {
  { "$wine" cmd /v:on /c "start /wait msiexec $* /l*v $(winpath "$work/msiexec.log") & echo status !errorlevel!" \
      2>/dev/null || true; } | tr -d '\r' | sed -n 's/^status //p'
}
expect_status() { # EXPECTED WHAT MSIEXEC-ARGS...
  local expected=$1 what=$2 status
  shift 2
  status=$(msiexec_status "$@")
  [ "$status" = "$expected" ] || {
    grep -a -i -E 'corvane \(process|in use|error|reboot' "$work/msiexec.log" >&2 || true
    [ -z "${ctl_pid:-}" ] || running "$ctl_pid" || echo "corvanectl.exe sync has ended: $(cat "$work/sync.log")" >&2
    fail "$what: msiexec ended with ${status:-nothing}, expected $expected"
  }
}
reg_value() { # KEY VALUE: the value's data, or nothing
  "$wine" reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
uninstall_entries() { # the uninstall keys named Corvane
  "$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' /s 2>/dev/null | tr -d '\r' |
    awk '/^HKEY/ {key=$0} /DisplayName +REG_SZ +Corvane$/ {print key}'
}
installed="$WINEPREFIX/drive_c/Program Files/Corvane"
running() { # PID
  local state
  state=$(ps -o stat= -p "$1" 2>/dev/null) && [ "${state#Z}" = "$state" ]
}
start_corvane() { # the installed window, on the simulated agent
  "$wine" "C:\\Program Files\\Corvane\\corvane.exe" --agent-root "$agent" >/dev/null 2>&1 &
  corvane_pid=$!
  # Setup closes windows, and a program still starting has none: the window is up shortly after Qt has
  # loaded the style plugin, which it does for the first widget it shows.
  for _ in $(seq 100); do
    running "$corvane_pid" || fail "the installed corvane.exe ended at its start"
    if grep -qi 'qwindowsvistastyle.dll' "/proc/$corvane_pid/maps" 2>/dev/null; then
      sleep 1
      return
    fi
    sleep 0.2
  done
  fail "the installed corvane.exe did not start within 20 s"
}
expect_closed() { # WHAT: the window started last has ended
  for _ in $(seq 25); do
    running "$corvane_pid" || return 0
    sleep 0.2
  done
  grep -a -i -E 'corvane \(process|CloseRunningCorvane' "$work/msiexec.log" >&2 || true
  fail "$1: Corvane was not closed"
}
same_files() { # FOLDER: the install folder holds exactly the files of FOLDER
  local want have
  want=$(cd "$1" && find . -type f -exec md5sum {} + | sort -k2)
  have=$(cd "$installed" && find . -type f -exec md5sum {} + | sort -k2)
  [ "$want" = "$have" ] || fail "the install folder differs from the package: $(diff <(echo "$want") <(echo "$have"))"
}

# The prefix's server stays up between the steps, so that a program started here is running within a moment
# (a cold start takes seconds). Stopping it writes the registry files out.
keep_server() { /usr/lib/wine/wineserver64 -p </dev/null >/dev/null 2>&1 || true; }
stop_server() { /usr/lib/wine/wineserver64 -k 2>/dev/null || true; sleep 0.5; }
keep_server
"$wine" wineboot -i >/dev/null 2>&1
# No display here: Wine's null display driver still gives Corvane real windows, which setup closes.
"$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /t REG_SZ /d null /f >/dev/null
agent=$(winpath "$work/agent")
# Its synchroniser writes its lines, then runs on without its end line: a sync keeps corvanectl.exe running.
WINEPATH="$(winpath "$sdk")\\bin" "$wine" "$fake_agent" init --never-stop --delay-ms 50 --hold-ms 120000 "$agent" \
  >/dev/null 2>&1
expect_list() { # EXE
  local listed
  listed=$("$wine" "$1" --agent-root "$agent" list 2>/dev/null) || fail "$1 list failed"
  grep -q "Office Tools" <<<"$listed" || fail "$1 list did not show the simulated agent: $listed"
}

echo "-- Portable ZIP"
mkdir "$work/unpacked"
(cd "$work/unpacked" && cmake -E tar xf "$zip")
folder=$work/unpacked/Corvane-$version-win64
for file in corvane.exe corvanectl.exe Qt6Core.dll Qt6Gui.dll Qt6Widgets.dll sqlite3.dll libstdc++-6.dll \
  libgcc_s_seh-1.dll libwinpthread-1.dll platforms/qwindows.dll styles/qwindowsvistastyle.dll README.txt \
  LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  [ -f "$folder/$file" ] || fail "the ZIP lacks $file"
done
[ "$("$wine" "$folder/corvanectl.exe" --version 2>/dev/null | tr -d '\r')" = "corvanectl $version" ] ||
  fail "corvanectl.exe --version from the ZIP"
expect_list "$folder/corvanectl.exe"

echo "-- MSI $lower (the same files, the programs marked $lower), installed silently"
# The lower package: this build's files with the programs' version resource set to the lower version (and so
# another content), packed as make-msi.sh packs every version.
cp -r "$stage" "$work/lower"
for exe in corvane.exe corvanectl.exe; do
  # VS_FIXEDFILEINFO: signature, structure version, file version (high, low), product version (high, low).
  perl -0777 -pi -e 'BEGIN { $low = pack("V", (shift) << 16) }
    s/(\xBD\x04\xEF\xFE.{8}).{4}(.{4}).{4}/$1$low$2$low/s or die "no version resource\n"' \
    "$((patch - 1))" "$work/lower/files/$exe"
done
bash "$root/installer/make-msi.sh" "$work/lower" "$lower" "$work/Corvane-$lower-win64.msi" >/dev/null
expect_status 0 "installing $lower" /i "$(winpath "$work/Corvane-$lower-win64.msi")" /qn
same_files "$work/lower/files"
find "$WINEPREFIX/drive_c" -ipath '*Start Menu*' -name 'Corvane.lnk' | grep -q . || fail "no Start-menu entry"
[ "$(find "$WINEPREFIX/drive_c" -ipath '*Start Menu*' -iname '*corvane*' | wc -l)" = 1 ] ||
  fail "more than the one Start-menu entry: $(find "$WINEPREFIX/drive_c" -ipath '*Start Menu*' -iname '*corvane*')"
entry=$(uninstall_entries)
[ "$(wc -l <<<"$entry")" = 1 ] || fail "expected one uninstall entry: $entry"
[ "$(reg_value "$entry" DisplayVersion)" = "$lower" ] || fail "the uninstall entry's version"
[ "$(reg_value "$entry" Publisher)" = Corvane ] || fail "the uninstall entry's publisher"
"$wine" reg query 'HKLM\Software\Classes\Installer\Products' /s 2>/dev/null | grep -qi 'ProductIcon.*corvane.ico' ||
  fail "the installed product has no icon"
expect_list "C:\\Program Files\\Corvane\\corvanectl.exe"

echo "-- MSI $version over $lower while Corvane and a corvanectl.exe sync run"
start_corvane
# The simulated agent's synchroniser (a test helper) finds its DLLs in the SDK; corvanectl.exe takes its own.
WINEPATH="$(winpath "$sdk")\\bin" \
  "$wine" "C:\\Program Files\\Corvane\\corvanectl.exe" --agent-root "$agent" sync --timeout 60 >"$work/sync.log" 2>&1 &
ctl_pid=$!
for _ in $(seq 100); do # until it follows the synchroniser's log
  running "$ctl_pid" || fail "corvanectl.exe sync ended at its start: $(cat "$work/sync.log")"
  grep -q 'policy.sync' "$work/sync.log" && break
  sleep 0.2
done
grep -q 'policy.sync' "$work/sync.log" || fail "corvanectl.exe sync did not follow the synchroniser within 20 s"
# Corvane is closed and replaced at once; corvanectl.exe cannot be closed, so its files wait for the restart.
expect_status 3010 "upgrading while corvanectl.exe runs" /i "$(winpath "$msi")" /qn
expect_closed "upgrading"
"$wine" reg query 'HKCU\Software\Corvane\Corvane' >/dev/null 2>&1 ||
  fail "Corvane was not closed cleanly: its settings were not saved"
pending=$(reg_value 'HKLM\System\CurrentControlSet\Control\Session Manager' PendingFileRenameOperations)
grep -qi 'corvanectl.exe' <<<"$pending" || fail "corvanectl.exe is not replaced at the restart: $pending"
! grep -qi 'corvane.exe' <<<"$pending" || fail "the closed corvane.exe waits for the restart: $pending"
cmp -s "$stage/files/corvane.exe" "$installed/corvane.exe" || fail "corvane.exe was not replaced"
kill "$ctl_pid" 2>/dev/null || true
"$wine" wineboot -r >/dev/null 2>&1 # Wine's restart: the pending replacements are made
same_files "$stage/files"
entry=$(uninstall_entries)
[ "$(wc -l <<<"$entry")" = 1 ] || fail "expected one uninstall entry after the upgrade: $entry"
[ "$(reg_value "$entry" DisplayVersion)" = "$version" ] || fail "the upgraded entry's version"

echo "-- Removal while Corvane runs"
start_corvane
expect_status 0 "removing while Corvane runs" /x "$(winpath "$msi")" /qn
expect_closed "removing"
stop_server
left=$(find "$WINEPREFIX/drive_c" -iname '*corvane*'; grep -il corvane "$WINEPREFIX/system.reg" || true)
[ -z "$left" ] || fail "the removal left: $left"
grep -q 'Software\\\\Corvane\\\\Corvane' "$WINEPREFIX/user.reg" || fail "the removal took the technician's settings"
keep_server

echo "-- MSI $version over a running Corvane that an earlier setup left in Program Files"
cp -r "$folder" "$installed"
start_corvane
expect_status 0 "installing while Corvane runs" /i "$(winpath "$msi")" /qn
expect_closed "installing"
same_files "$stage/files"
[ "$(uninstall_entries | wc -l)" = 1 ] || fail "expected one uninstall entry"

# Under Wine, the removal of the older version that an upgrade makes runs last and deletes the upgrade
# registration of the version that replaced it: the refusal is checked on a version installed afresh.
echo "-- MSI $lower over $version: refused"
status=$(msiexec_status /i "$(winpath "$work/Corvane-$lower-win64.msi")" /qn)
[ "$status" = 1603 ] || fail "installing an older version was not refused ($status)"
[ "$(reg_value "$(uninstall_entries)" DisplayVersion)" = "$version" ] || fail "the older version replaced the newer"
same_files "$stage/files"
echo "Windows packages: ZIP and MSI checked"
