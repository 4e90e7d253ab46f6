#!/usr/bin/env bash
# Builds the libFuzzer harnesses with clang and runs each for SECONDS (default 20), starting from the seed
# corpora in fuzz/corpus. Prints each harness's executions; exits non-zero on the first finding.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-20}"

bash scripts/install-deps.sh --fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
for harness in descriptor scheduledtasks invokerlog synclog agenttime taskrows recordfields; do
  mkdir -p "$work/$harness"
  log="$work/$harness.log"
  if ! ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
      "build/fuzz/fuzz/fuzz_$harness" "$work/$harness" "fuzz/corpus/$harness" \
      -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
      -artifact_prefix="$work/$harness-" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "fuzz_$harness: FOUND A FAULT (input kept in build/fuzz/findings)"
    mkdir -p build/fuzz/findings && cp "$work/$harness"-* build/fuzz/findings/ 2>/dev/null || true
    exit 1
  fi
  runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -n 1 | grep -o '[0-9]*')
  echo "fuzz_$harness: ${runs:-?} executions in ${seconds} s, no finding"
done
echo "fuzz: 7 passed, 0 failed"
