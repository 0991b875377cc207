#!/usr/bin/env bash
# Runs a test with a scratch folder, a D-Bus session with an accessibility bus (with-a11y.sh) and,
# unless the screen is "none", an X server of its own:
#   own-display.sh SCREEN COMMAND [ARGS...]      e.g. own-display.sh 1920x1080x24 bash test.sh ...
# The display is one nobody holds, chosen under a lock, so tests that run side by side never race
# for one. Every temporary file the test makes (its HOME among
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
  # One display is chosen at a time, under a lock all copies of this script share: the first number
  # with neither a server lock nor a socket, held until its server answers. The server's own choice
  # (-displayfd) raced between a server in a network namespace and one outside it, whose abstract
  # sockets do not see each other. The server never resets: by default it does when its last client
  # goes (a test's program quitting, or the probe below), and a program started meanwhile cannot
  # connect.
  exec 9>/tmp/.qr-own-display.lock
  flock 9
  n=0
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 "$screen" -nolisten tcp -noreset 2>"$scratch/xvfb.log" 9>&- &
  xvfb=$!
  up=0
  for ((i = 0; i < 300; i++)); do
    if xdpyinfo -display ":$n" >/dev/null 2>&1; then up=1; break; fi
    kill -0 "$xvfb" 2>/dev/null || break
    sleep 0.1
  done
  flock -u 9
  exec 9>&-
  [ "$up" = 1 ] || { echo "FAIL: Xvfb did not start on :$n"; cat "$scratch/xvfb.log"; exit 1; }
  export DISPLAY=:$n
fi

# Every test also has a D-Bus session and an accessibility bus of its own.
status=0
bash "$(dirname "$0")/with-a11y.sh" "$@" || status=$?
exit "$status"
