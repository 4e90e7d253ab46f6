#!/usr/bin/env bash
# Peak memory and run time of the command line and the window on two hostile agent trees: eleven package
# descriptors carrying one 60 MB package name (hard links of one file), and a 140 MB scheduled-task file of
# 20 million nested elements. Needs 400 MB of free disk in the temporary folder.
#   bash scripts/bench-hostile.sh [BUILD_DIR]     (default build/release, built by scripts/bench.sh)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/release}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
fake=$build/tools/fake-agent/corvane-fake-agent
[ -x "$fake" ] || fake=$(ls build/*/tools/fake-agent/corvane-fake-agent | head -n 1)

# "peak MB, seconds" of one run of the command.
measure() {
  /usr/bin/time -f '%M %e' -o "$tmp/time" "$@" >/dev/null 2>&1 || true
  awk '{ printf "%.0f MB, %.2f s", $1 / 1024, $2 }' "$tmp/time"
}
# The window's peak memory (VmHWM) after 12 s: its first read and two refreshes.
window() {
  QT_QPA_PLATFORM=offscreen "$build/src/app/corvane" --agent-root "$1" >/dev/null 2>&1 &
  local pid=$!
  sleep 12
  awk '/VmHWM/ { printf "%.0f MB", $2 / 1024 }' "/proc/$pid/status"
  kill -KILL "$pid"
  wait "$pid" 2>/dev/null || true
}

names=$tmp/names
"$fake" init "$names" >/dev/null
files="$names/Documents and Settings/All Users/Application Data/LANDesk/ManagementSuite/landesk/files"
{
  printf '<?xml version="1.0" encoding="utf-8"?>\r\n<SDClientTask version="2">\r\n<Package><Options><Type>S</Type>\r\n<Name>'
  head -c 60000000 /dev/zero | tr '\0' n
  printf '</Name><Description>d</Description><PrimaryFile>setup.exe</PrimaryFile>\r\n</Options></Package>\r\n</SDClientTask>\r\n'
} >"$tmp/name.xml"
# The agent's ten operations and one task only the scheduled-task file knows: eleven rows carry the name.
for task in CORE01_1201 CORE01_1202 CORE01_1203 CORE01_1204 CORE01_1205 CORE01_1206 CORE01_1207 CORE01_1208 \
  CORE01_1209 CORE01_1210; do
  ln -f "$tmp/name.xml" "$files/SDClientTask.$task.xml"
done
ln -f "$tmp/name.xml" "$files/1311"

nested=$tmp/nested
"$fake" init "$nested" >/dev/null
{
  printf '<?xml version="1.0" encoding="utf-8"?>\r\n<SDClientTasks>\r\n<task taskid="CORE01_1201" state="deep" time="0">'
  awk 'BEGIN { for (i = 0; i < 20000000; i++) printf "<a>"; for (i = 0; i < 20000000; i++) printf "</a>" }'
  printf '</task>\r\n</SDClientTasks>\r\n'
} >"$nested/Program Files/LANDesk/LDClient/sdclient.tasks.xml"

ctl=$build/src/app/corvanectl
echo "| case | corvanectl list | corvanectl list --json | window, peak over 12 s |"
echo "|---|---|---|---|"
echo "| 11 rows naming one 60 MB package | $(measure "$ctl" --agent-root "$names" list) | $(measure "$ctl" --agent-root "$names" list --json) | $(window "$names") |"
echo "| 140 MB scheduled-task file, 20 million nested elements | $(measure "$ctl" --agent-root "$nested" list) | $(measure "$ctl" --agent-root "$nested" list --json) | $(window "$nested") |"
