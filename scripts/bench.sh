#!/usr/bin/env bash
# Builds Corvane optimised and prints the benchmark table (about a minute; needs 3 GB of free disk for the
# large logs it writes to a temporary folder).
#   bash scripts/bench.sh [refresh] [invoker] [sync] [eventloop] [ctl] [workstations] [bursts] [memory] [flood] [schedule] [actions] [journal] [locked] [day]   (default: all but locked and day)
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target corvane-bench corvane corvanectl corvane-fake-agent >/dev/null
echo "Machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | xargs), $(free -g | awk '/Mem:/{print $2}') GiB"
QT_QPA_PLATFORM=offscreen build/release/bench/corvane-bench "$@" 2>/dev/null
