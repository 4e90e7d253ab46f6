#!/usr/bin/env bash
# Builds Corvane, writes a simulated agent below build/demo-agent and opens the main window on it.
# Without a display the window runs under Xvfb for a few seconds and a screenshot of it is saved.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --demo
cmake --preset dev >/dev/null
cmake --build --preset dev

root="$PWD/build/demo-agent"
rm -rf "$root"
build/dev/tools/fake-agent/corvane-fake-agent init "$root"
echo
build/dev/src/app/corvanectl --agent-root "$root" list
echo

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "Opening Corvane on the simulated agent (close the window to end the demo)."
  build/dev/src/app/corvane --agent-root "$root"
else
  shot="$PWD/build/demo-screenshot.png"
  echo "No display: running Corvane under Xvfb."
  xvfb-run -a -s "-screen 0 744x375x24" bash -c '
    "$1" --agent-root "$2" & pid=$!
    sleep 3
    import -window root "$3"
    kill "$pid"' _ "$PWD/build/dev/src/app/corvane" "$root" "$shot"
  echo "Screenshot of the main window saved to $shot"
fi
