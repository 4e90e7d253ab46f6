#!/usr/bin/env bash
# Builds Corvane, writes a simulated agent below build/demo-agent and shows its task list.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset dev >/dev/null
cmake --build --preset dev

root="$PWD/build/demo-agent"
rm -rf "$root"
build/dev/tools/fake-agent/corvane-fake-agent init "$root"
echo
build/dev/src/app/corvanectl --agent-root "$root" list
echo
echo "Today's invoker log:"
build/dev/src/app/corvanectl --agent-root "$root" log
