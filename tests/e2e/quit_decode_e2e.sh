#!/usr/bin/env bash
# Quit while photos are being decoded: a HEIC set whose inner ten photos are 8064 x 6048 grid HEICs
# (each takes the pool thread that decodes it several seconds), Generate Playlist pressed over
# AT-SPI, then Ctrl+Q (odd runs) or Alt+F4, which closes the window, as soon as the decodes run.
# Each of RUNS runs prints how many threads a debugger found decoding just before, the time from the
# key to the end of the process and its exit code; the test fails unless every run ends within 1 s with
# exit code 0 while a decode was running.
#   quit_decode_e2e.sh APP DEMO_GEN HEIC_GRID_WRITER [RUNS]
set -euo pipefail
APP=$1 DEMO_GEN=$2 WRITER=$3 RUNS=${4:-3}
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
unset QT_QPA_PLATFORM
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME" "$HOME/demo"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
# The demo's HEIC set keeps its signed first and last photo; the ten between become large ones.
"$DEMO_GEN" --no-raw "$HOME/demo" 2>/dev/null
mv "$HOME"/demo/kro_003_*.heic "$HOME/Downloads/"
QT_QPA_PLATFORM=offscreen "$WRITER" "$HOME/large.heic" 8064 6048
for i in $(seq -f %03g 2 11); do cp "$HOME/large.heic" "$HOME/Downloads/kro_003_${i}_01.heic"; done
echo "HEIC set: 12 photos, 10 of them $(stat -c %s "$HOME/large.heic") bytes, 8064 x 6048 in 1024 x 1024 tiles"
start_wm

now_ms() { echo $(($(date +%s%N) / 1000000)); }
fail=0
for ((run = 1; run <= RUNS; run++)); do
  # A fresh cache each run: display copies kept from an earlier run would spare the decodes.
  export XDG_CACHE_HOME=$(mktemp -d)
  "$APP" >"$ART/quit-decode-$run.log" 2>&1 &
  app=$!
  pids+=($app)
  main=$(enter_player_mode "$app")
  a11y press "$app" "Generate Playlist" ||
    { echo "FAIL: run $run: no Generate Playlist button on the bus"; fail=1; }
  # Quit as soon as a debugger finds threads inside an HEVC decoder, libavcodec's or libde265's (each
  # look stops the program for about a second; the decodes go on after it).
  decoding=0
  looking=$((SECONDS + 60))
  while [ "$decoding" = 0 ] && [ $SECONDS -lt $looking ]; do
    sleep 0.5
    decoding=$(gdb -batch -nx -p "$app" -ex "info threads" 2>/dev/null | grep -c -E "libavcodec|libde265" || true)
  done
  xdotool windowfocus --sync "$main" 2>/dev/null || true
  # Odd runs quit with Ctrl+Q, even runs close the window through the window manager (Alt+F4).
  how=ctrl+q
  ((run % 2 == 0)) && how=alt+F4
  start=$(now_ms)
  xdotool key --clearmodifiers "$how"
  while kill -0 "$app" 2>/dev/null && [ $(($(now_ms) - start)) -lt 10000 ]; do sleep 0.02; done
  took=$(($(now_ms) - start))
  code=timeout
  if ! kill -0 "$app" 2>/dev/null; then code=0; wait "$app" || code=$?; else kill -9 "$app"; fi
  echo "run $run: $decoding threads decoding HEVC just before; ended $took ms after $how, exit code $code"
  [ "$decoding" -gt 0 ] || { echo "FAIL: run $run: nothing was being decoded at the end"; fail=1; }
  [ "$code" = 0 ] && [ "$took" -le 1000 ] || { echo "FAIL: run $run"; fail=1; }
done
[ $fail = 0 ] && echo PASS
exit $fail
