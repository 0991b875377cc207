#!/usr/bin/env bash
# The real binary under Xvfb with 45 raw frames of 4032 x 3024 in Downloads: Generate Playlist shows
# its progress in render view 4 while the frames are decompressed, and the progress is gone once the
# set plays. Prints how long after the press the progress bar first moved (from the program's own
# diagnostics) and keeps a screenshot of the progress.
#   pass_progress_e2e.sh APP DEMO_GEN
set -euo pipefail
APP=$1 DEMO_GEN=$2
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/../e2e/lib.sh"

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
unset QT_QPA_PLATFORM
"$DEMO_GEN" --raw-only 45 "$HOME/Downloads" 2>/dev/null
cleanup() { kill "${pid:-}" 2>/dev/null || true; rm -rf "$HOME"; }
trap cleanup EXIT

LOG="$ART/pass-progress.log"
QT_LOGGING_RULES="quintaray.playlist.debug=true" QT_MESSAGE_PATTERN="%{time process} %{message}" \
  "$APP" 2>"$LOG" &
pid=$!
main=$(enter_player_mode "$pid")

eval "$(xdotool getwindowgeometry --shell "$main")"
# The layout read off the window as in player_e2e.sh: the main display's accent border.
import -window "$main" "$ART/pass-layout.png"
left=$(convert "$ART/pass-layout.png" -crop "${WIDTH}x1+0+$((HEIGHT * 2 / 3))" txt:- |
  awk -F'[,: ]+' '!found && /#D24D57/ { print $1; found = 1 }')
W=$((left * 2)) H=$((left * 8 / 3))
bottom=$(convert "$ART/pass-layout.png" -crop "1x${HEIGHT}+$W+0" txt:- |
  awk -F'[,: ]+' '/#D24D57/ { last = $2 } END { print last }')
COL=$((WIDTH - 2 * W)) THIRD=$((H / 3))
echo "window ${WIDTH}x${HEIGHT}, display ${W}x${H} ending at row $bottom, column $COL"
[ "$W" -gt 100 ] || { echo "FAIL: no main display"; exit 1; }
# Render view 4: the bottom third of the right column.
panel="${COL}x${THIRD}+$((2 * W))+$((bottom + 1 - THIRD))"

ocr_panel() { # $1: screenshot; prints the text read in render view 4
  convert "$1" -crop "$panel" +repage -resize 300% -colorspace Gray -negate "$1-panel.png"
  tesseract "$1-panel.png" - 2>/dev/null | tr '\n' ' '
}

a11y press "$pid" "Generate Playlist"
# The text is read with the program stopped (SIGSTOP), so the pass cannot end while the screenshot is
# read, however slow the OCR. The program logs each progress text as it sets it; by the time it logs
# the next one (250 ms later) the one before has been painted.
fail=0
seen="" text=""
shown() { grep -c "progress shown: Decompressing" "$LOG" || true; }
deadline=$((SECONDS + 120))
looked=0
while [ -z "$seen" ] && [ $SECONDS -lt $deadline ] && [ $looked -lt 5 ]; do
  before=$(shown)
  until [ "$(shown)" -gt "$before" ] && [ "$(shown)" -ge 2 ]; do
    grep -q "playlist: 45 photos" "$LOG" && break 2
    [ $SECONDS -lt $deadline ] || break 2
    sleep 0.02
  done
  kill -STOP "$pid"
  import -window "$main" "$ART/pass-shot.png"
  kill -CONT "$pid"
  looked=$((looked + 1))
  text=$(ocr_panel "$ART/pass-shot.png")
  if [[ "$text" =~ Decompressing\ [0-9]+\ of\ 45\ raw\ frames ]]; then
    seen=${BASH_REMATCH[0]}
    cp "$ART/pass-shot.png" "$ART/pass-progress.png"
  fi
done
# A later view of the same pass, with the bar part way (kept for the documentation).
import -window "$main" "$ART/pass-progress-later.png"
if [ -n "$seen" ]; then echo "ok: progress text during the pass: '$seen'"; else
  echo "FAIL: no progress text read during the pass ($looked looks; last read: '$text')"; fail=1; fi

# The pass ends and the set starts; the progress text is gone from render view 4.
deadline=$((SECONDS + 120))
while [ $fail = 0 ] && [ $SECONDS -lt $deadline ]; do
  grep -q "playlist: 45 photos" "$LOG" && break
  sleep 0.1
done
grep -q "playlist: 45 photos, 1 playable sets" "$LOG" || { echo "FAIL: the pass did not hand over the set"; fail=1; }
# The first raw frame is converted after the pass: wait for a photo on the main display.
deadline=$((SECONDS + 60))
while [ $SECONDS -lt $deadline ]; do
  sleep 0.5
  import -window "$main" "$ART/pass-after.png"
  spread=$(convert "$ART/pass-after.png" -crop "$((W - 80))x$((H / 3))+$((W / 2 + 40))+$((bottom - H * 2 / 3))" \
    -colorspace Gray -format "%[fx:standard_deviation]" info:)
  awk -v v="$spread" 'BEGIN { exit !(v > 0.02) }' && break
done
after=$(ocr_panel "$ART/pass-after.png")
if [[ "$after" =~ Decompressing|raw\ frames|Checking|Unpacking ]]; then
  echo "FAIL: progress still shown after the set started: '$after'"; fail=1
else
  echo "ok: no progress text once playing (read: '$after')"
fi
awk -v v="$spread" 'BEGIN { exit !(v > 0.02) }' && echo "ok: a photo on the main display ($spread)" ||
  { echo "FAIL: no photo on the main display ($spread)"; fail=1; }

# From the program's diagnostics: press to the first move of the bar (its value above 0).
# Also when it first showed 1 % (10 of 1000 steps; about 3 pixels here).
awk '/pass started/ { t0 = $1 } /progress bar: [1-9]/ && t0 != "" && !moved { moved = $1 }
     /progress bar: / && t0 != "" && $4 >= 10 && !percent { percent = $1 }
     END { if (moved != "") printf "bar first moved %.3f s after the press, reached 1 %% at %.3f s\n",
                                   moved - t0, percent - t0;
           else print "FAIL: the bar never moved" }' "$LOG" | tee "$ART/pass-progress-timing.txt"
grep -q "bar first moved" "$ART/pass-progress-timing.txt" || fail=1

send_keys "$main" ctrl+q
wait_exit "$pid" 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
[ $fail = 0 ] && echo PASS
exit $fail
