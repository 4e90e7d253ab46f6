#!/usr/bin/env bash
# Runs a Windows executable of the cross build under Wine, with the SDK's DLLs and Qt plugins found.
#   wine-run.sh SDK PREFIX PROGRAM.exe [ARGS...]
# PREFIX is the Wine prefix unless $WINEPREFIX is set; scripts/windows.sh removes it before every run, and the
# first program to run makes it afresh. Wine hands no QT_* variable of ours to a Windows program, so the
# prefix itself carries the tests' QT_QPA_PLATFORM=offscreen in its user environment.
# A test given "-o FILE,txt" writes its results there (a test's standard output does not always reach us
# under Wine): the file is printed once the test has ended, and the test's exit status is kept.
set -uo pipefail
sdk=$1
export WINEPREFIX=${WINEPREFIX:-$2}
shift 2
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-winemenubuilder.exe=d;mscoree=d;mshtml=d}
export WINEPATH="Z:${sdk//\//\\}\\bin"
export QT_PLUGIN_PATH="$sdk/plugins"

if [ ! -f "$WINEPREFIX/.corvane-ready" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.corvane-ready" ]; then
      /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1
      /usr/lib/wine/wine64 reg add 'HKCU\Environment' /v QT_QPA_PLATFORM /t REG_SZ /d offscreen /f >/dev/null
      /usr/lib/wine/wineserver64 -w
      touch "$WINEPREFIX/.corvane-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
fi

# The server of the prefix, started here with no stream of ours: a server that a test's own start brought up
# would hold the test's output open, and CTest would wait for it until every other test had ended.
/usr/lib/wine/wineserver64 -p30 </dev/null >/dev/null 2>&1 || true

results=
previous=
for arg in "$@"; do
  [ "$previous" = "-o" ] && [ "${arg%,txt}" != "$arg" ] && results=${arg%,txt}
  previous=$arg
done
[ -n "$results" ] && rm -f "$results"

# The program's output goes through a file, not through our own streams: a Wine service that the program
# brings up lives on with the streams it was given, and whoever reads ours (CTest) would wait for it.
output=$(mktemp)
/usr/lib/wine/wine64 "$@" </dev/null >"$output" 2>&1 &
program=$!

# Now and then a Qt program under Wine writes all its results and then never leaves ExitProcess (one
# thread left, waiting on a lock while Qt's thread data is torn down). A test that has finished writing
# its results and is still there 10 s later is ended here, and its status is taken from its results.
finished_at=
status=
while kill -0 "$program" 2>/dev/null; do
  if [ -n "$results" ] && [ -z "$finished_at" ] && grep -q '^\*\*\*\*\*\*\*\*\* Finished testing of' "$results" 2>/dev/null; then
    finished_at=$SECONDS
  fi
  if [ -n "$finished_at" ] && [ $((SECONDS - finished_at)) -ge 10 ]; then
    kill -9 "$program" 2>/dev/null
    wait "$program" 2>/dev/null
    failed=$(sed -n 's/^Totals: [0-9]* passed, \([0-9]*\) failed.*/\1/p' "$results")
    status=$(( ${failed:-1} > 0 ? 1 : 0 ))
    echo "wine-run.sh: the test wrote its results but did not exit within 10 s under Wine; ended, status $status from its results"
    break
  fi
  sleep 0.5
done
if [ -z "$status" ]; then
  wait "$program"
  status=$?
fi
cat "$output"
rm -f "$output"
[ -n "$results" ] && [ -f "$results" ] && cat "$results"
exit $status
