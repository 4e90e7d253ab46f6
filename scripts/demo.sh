#!/usr/bin/env bash
# Builds Corvane, writes a simulated agent below build/demo-agent, runs a Policy Sync on it from the command
# line and opens the main window on it. Without a display the window runs under Xvfb: a screenshot of it is
# saved, then one taken during a Policy Sync started from the window with "View Log" checked.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --demo
cmake --preset dev >/dev/null
cmake --build --preset dev

root="$PWD/build/demo-agent"
rm -rf "$root"
build/dev/tools/fake-agent/corvane-fake-agent init "$root"
# A second simulated agent stands in for workstation WS0123's share.
workstations="$PWD/build/demo-workstations"
rm -rf "$workstations"
build/dev/tools/fake-agent/corvane-fake-agent init "$workstations/WS0123" >/dev/null
echo
build/dev/src/app/corvanectl --agent-root "$root" list
echo
echo "Policy Sync with the stand-in synchroniser:"
build/dev/src/app/corvanectl --agent-root "$root" sync
echo

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening Corvane on the simulated agent (close the window to end the demo)."
  echo "Ctrl+K and the name WS0123 open a second workstation in a tab of its own."
  build/dev/src/app/corvane --agent-root "$root" --workstation-folders "$workstations"
else
  shot="$PWD/build/demo-screenshot.png"
  sync_shot="$PWD/build/demo-policy-sync.png"
  echo "No display: running Corvane under Xvfb."
  xvfb-run -a -s "-screen 0 1300x420x24" bash -c '
    "$1" --agent-root "$2" & pid=$!
    sleep 3
    import -window root -crop 744x375+0+0 "$3"
    xdotool mousemove 462 200 click 1 sleep 0.3 mousemove 404 196 click 1 sleep 1
    xdotool search --name "Policy Sync log" windowmove 750 0 sleep 1.5
    import -window root "$4"
    sleep 6
    kill "$pid"' _ "$PWD/build/dev/src/app/corvane" "$root" "$shot" "$sync_shot"
  echo "Screenshot of the main window saved to $shot"
  echo "Screenshot during a Policy Sync saved to $sync_shot"
fi
