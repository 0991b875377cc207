#!/usr/bin/env bash
# The real binary under Xvfb and openbox in Multi View Capture mode with three simulated phones on
# loopback: the phones find the master by DNS-SD and their streams show in three positions; the
# frame covers the work area, and a drag of its corner ends at 16:9. Ctrl+R records the three
# positions; Ctrl+Q while recording ends the program with three finished clips that ffmpeg decodes.
#   mvc_e2e.sh APP PHONE_SIM
# Run it in a network namespace that holds only loopback (tests/mvc/run-in-netns.sh).
set -euo pipefail
APP=$1 SIM=$2
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
unset QT_QPA_PLATFORM
start_wm

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

"$APP" &
app=$!
pids+=($app)
main=$(enter_mvc_master "$app" 314159 "$ART/mvc-dialog.png")
wait_settled "$main" || true
fail=0
check_frame "$main" "$(work_area)" || fail=1

for phone in "0 1 1280 960" "1 0 1280 960" "2 1 960 720"; do
  read -r view orientation w h <<<"$phone"
  start_phone "$ART/phone-$view.log" "$SIM" --mdns-server 127.0.0.1 --wait 20 --view "$view" \
    --orientation "$orientation" --width "$w" --height "$h" --fps 20 --frames -1 --code 314159 ||
    { echo "FAIL: phone $view did not connect"; fail=1; }
  pids+=("$PHONE_PID")
done
shot="$ART/mvc.png"
grep -h -i "txt" "$ART"/phone-*.log | head -n 3 || true

# Presentation mode 2 after start-up: positions 1 and 2 are quarter-width columns on the left,
# 3 and 4 stacked halves on the right. A stream shows as a varied picture, an empty panel does not.
# The screenshot is taken once every position shows its stream, or after 30 s.
spread() { convert "$shot" -crop "$3x$4+$1+$2" -colorspace Gray -format "%[fx:standard_deviation]" info:; }
areas() {
  local q=$((WIDTH / 4)) half=$((HEIGHT / 2))
  echo "position 1:$((q / 8)) $((HEIGHT / 4)) $((q * 3 / 4)) $((HEIGHT / 3))"
  echo "position 2:$((q + q / 8)) $((HEIGHT / 4)) $((q * 3 / 4)) $((HEIGHT / 3))"
  echo "position 3:$((2 * q + q / 4)) $((half / 4)) $((q * 3 / 2)) $((half / 2))"
}
streams_shown() {
  import -window "$main" "$shot"
  read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
  local area x y w h
  while IFS= read -r area; do
    read -r x y w h <<<"${area#*:}"
    awk -v v="$(spread "$x" "$y" "$w" "$h")" 'BEGIN { exit !(v > 0.05) }' || return 1
  done < <(areas)
}
until_true 30 streams_shown || true
shot_framed "$main" "$ART/mvc-framed.png"
echo "window ${WIDTH}x${HEIGHT}; screenshot $shot"
while IFS= read -r area; do
  name=${area%%:*}
  read -r x y w h <<<"${area#*:}"
  s=$(spread "$x" "$y" "$w" "$h")
  if awk -v v="$s" 'BEGIN { exit !(v > 0.05) }'; then echo "ok: stream in $name ($s)"; else echo "FAIL: no stream in $name ($s)"; fail=1; fi
done < <(areas)

send_keys "$main" ctrl+r
# Recording until each of the three clips being written (hidden until finished) holds 256 KB.
clips_grown() {
  [ "$(find "$HOME/Videos" -maxdepth 1 -name '.*' -type f -size +256k 2>/dev/null | wc -l)" -ge 3 ]
}
until_true 30 clips_grown || echo "clips being written after 30 s: $(ls -la "$HOME/Videos" 2>&1)"
import -window "$main" "$ART/mvc-recording.png"
echo "recording; screenshot $ART/mvc-recording.png"

drag_corner "$main" -300 -100
check_16x9 "$main" || fail=1

send_keys "$main" ctrl+q
quit_at=$(date +%s.%N)
wait_exit "$app" 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
echo "exit $(awk -v a="$quit_at" -v b="$(date +%s.%N)" 'BEGIN { printf "%.2f", b - a }') s after Ctrl+Q (recording)"

# Quit finished the clips: one per position under its own name, no temporary file, each decodes.
clips=("$HOME"/Videos/"MVC "*" position "[123].mp4)
ls -la "$HOME/Videos"
if [ "${#clips[@]}" != 3 ] || [ ! -e "${clips[0]}" ]; then echo "FAIL: ${#clips[@]} clips"; fail=1; fi
if ls -A "$HOME/Videos" | grep -q '^\.'; then echo "FAIL: a temporary file was left"; fail=1; fi
for clip in "${clips[@]}"; do
  [ -e "$clip" ] || continue
  frames=$(ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets,width,height \
    -of csv=p=0 "$clip")
  errors=$(ffmpeg -v error -i "$clip" -fps_mode passthrough -enc_time_base -1 -f null - 2>&1 || echo "ffmpeg failed")
  echo "clip $(basename "$clip"): width,height,frames $frames"
  [ -z "$errors" ] || { echo "FAIL: $clip: $errors"; fail=1; }
  cp "$clip" "$ART/" 2>/dev/null || true
done
[ $fail = 0 ] && echo PASS
exit $fail
