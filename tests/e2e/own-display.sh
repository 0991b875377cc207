#!/usr/bin/env bash
# Runs a test with a scratch folder and, unless the screen is "none", an X server of its own:
#   own-display.sh SCREEN COMMAND [ARGS...]      e.g. own-display.sh 1920x1080x24 bash test.sh ...
# The server picks a display number nobody holds (its lock file is created exclusively), so tests
# that run side by side never race for one. Every temporary file the test makes (its HOME among
# them) goes below the scratch folder through TMPDIR; the server and the folder go when it ends.
set -euo pipefail
screen=$1
shift
scratch=$(mktemp -d)
xvfb=
cleanup() {
  if [ -n "$xvfb" ]; then
    kill "$xvfb" 2>/dev/null || true
    wait "$xvfb" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanup EXIT
trap 'exit 143' TERM INT HUP
mkdir "$scratch/tmp"
export TMPDIR=$scratch/tmp

if [ "$screen" != none ]; then
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$scratch/display" 2>"$scratch/xvfb.log" &
  xvfb=$!
  display=
  for ((i = 0; i < 300; i++)); do
    display=$(cat "$scratch/display")
    [ -n "$display" ] && break
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  [ -n "$display" ] || { echo "FAIL: Xvfb did not start"; cat "$scratch/xvfb.log"; exit 1; }
  export DISPLAY=:$display
fi

status=0
"$@" || status=$?
exit "$status"
