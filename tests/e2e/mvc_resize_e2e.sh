#!/usr/bin/env bash
# The real binary under Xvfb and openbox in Multi View Capture mode with three simulated phones:
# the frame stays on the work area for seconds after start and while the phones stream; a drag of
# the frame's corner rebuilds the capture strip for the new size, each position keeps its picture,
# and a click on each shutter button, in its upper half, reaches the phone of its position. A phone
# that falls silent is marked after two seconds. Screenshots go to $ARTIFACTS.
#   mvc_resize_e2e.sh APP PHONE_SIM [no-extents-request]
# With no-extents-request the window manager does not offer _NET_REQUEST_FRAME_EXTENTS, so the
# first layout cannot know the decorations: the layout made once they are known shows the panels'
# tops as well. Run it in a network namespace that holds only loopback (tests/mvc/run-in-netns.sh).
set -euo pipefail
APP=$1 SIM=$2 VARIANT=${3:-}
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
unset QT_QPA_PLATFORM
start_wm
if [ "$VARIANT" = no-extents-request ]; then
  supported=$(xprop -root _NET_SUPPORTED | sed 's/^[^=]*= //; s/, /\n/g' | grep -vx _NET_REQUEST_FRAME_EXTENTS | paste -sd, -)
  xprop -root -f _NET_SUPPORTED 32a -set _NET_SUPPORTED "$supported"
fi

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

# Polls `$@` every 0.1 s until it succeeds or $DEADLINE seconds have passed, however long each try
# takes (a screenshot read by OCR takes seconds on a busy machine).
# The frame lies inside the work area, at every look for $1 seconds; with $2 = cover it covers
# the area exactly, as placed at start.
frame_holds() {
  local secs=$1 how=${2:-inside} fx fy fw fh wx wy ww wh
  read -r wx wy ww wh < <(work_area)
  for ((i = 0; i <= secs * 4; i++)); do
    read -r fx fy fw fh < <(frame_geometry "$main")
    if [ "$how" = cover ]; then
      [ "$fx $fy $fw $fh" = "$wx $wy $ww $wh" ]
    else
      [ "$fx" -ge "$wx" ] && [ "$fy" -ge "$wy" ] && [ $((fx + fw)) -le $((wx + ww)) ] && [ $((fy + fh)) -le $((wy + wh)) ]
    fi || { echo "frame $fx $fy $fw $fh, work area $wx $wy $ww $wh"; return 1; }
    sleep 0.25
  done
  echo "frame $fx $fy $fw $fh within the work area $wx $wy $ww $wh for $secs s"
}

"$APP" &
app=$!
pids+=($app)
main=$(enter_mvc_master "$app" 271828)
fail=0
frame_holds 4 cover || { echo "FAIL: frame left the work area after start"; fail=1; }
# The panels start right below the menu bar: their top border (accent-coloured) is on screen.
panels_top() {
  local w h
  read -r _ _ w h < <(client_geometry "$main")
  import -window "$main" "$ART/resize-start$VARIANT.png"
  convert "$ART/resize-start$VARIANT.png" -crop "1x${h}+$((w / 8))+0" txt:- |
    awk -F'[,: ]+' '!found && /#D24D57/ { print $2; found = 1 }'
}
top=$(panels_top)
echo "panels from row ${top:-none} after start"
[ -n "$top" ] && [ "$top" -le 24 ] || { echo "FAIL: the panels' tops are hidden"; fail=1; }

# Phone n shows in position n (view index n - 1); the third falls silent after 60 frames.
for phone in "0 -1" "1 -1" "2 60"; do
  read -r view frames <<<"$phone"
  start_phone "$ART/resize-phone-$view.log" "$SIM" --mdns-server 127.0.0.1 --wait 20 --view "$view" \
    --orientation 1 --width 640 --height 480 --fps 20 --frames "$frames" --stay --code 271828 ||
    { pids+=("$PHONE_PID"); echo "FAIL: phone $view did not connect"; exit 1; }
  pids+=("$PHONE_PID")
done

# Presentation mode 2: positions 1 and 2 are quarter-width columns on the left, 3 and 4 stacked
# halves on the right. A stream shows as a varied picture, an empty panel does not.
shot=$ART/resize-before.png
spread() { convert "$shot" -crop "$3x$4+$1+$2" -colorspace Gray -format "%[fx:standard_deviation]" info:; }
streams_shown() {
  import -window "$main" "$shot"
  read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
  local q=$((WIDTH / 4)) half=$((HEIGHT / 2)) s
  for area in "$((q / 8)) $((HEIGHT / 4)) $((q * 3 / 4)) $((HEIGHT / 3))" \
              "$((q + q / 8)) $((HEIGHT / 4)) $((q * 3 / 4)) $((HEIGHT / 3))" \
              "$((2 * q + q / 4)) $((half / 4)) $((q * 3 / 2)) $((half / 2))"; do
    s=$(spread $area)
    awk -v v="$s" 'BEGIN { exit !(v > 0.05) }' || return 1
  done
}
until_true 20 streams_shown || { echo "FAIL: not every position shows its stream"; fail=1; }
frame_holds 2 cover || { echo "FAIL: frame left the work area while the phones stream"; fail=1; }

drag_corner "$main" -300 -100
until_true 10 check_16x9 "$main" >/dev/null || fail=1
check_16x9 "$main" || fail=1
read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
shot=$ART/resize-after.png
until_true 10 streams_shown || { echo "FAIL: a position lost its picture in the resize"; fail=1; }
shot_framed "$main" "$ART/mvc-resized-framed.png"

# Where the strip is: render view 4 is the bottom-right quarter of the area below the menu bar,
# whose top is the first accent-coloured row of position 1's border.
top=$(convert "$shot" -crop "1x${HEIGHT}+$((WIDTH / 8))+0" txt:- |
  awk -F'[,: ]+' '!found && /#D24D57/ { print $2; found = 1 }')
CH=$((HEIGHT - top))
B=72 # the shutter button's side at scale 1
echo "after the drag: client ${WIDTH}x${HEIGHT}, panels from row $top"
for n in 1 2 3; do
  x=$((WIDTH / 2 + n * WIDTH / 8)) y=$((top + CH * 3 / 4 - B * 3 / 10))
  c=$(convert "$shot" -format "%[pixel:p{$x,$y}]" info:)
  echo "shutter $n, upper half at ($x, $y): $c"
  [ "$c" = "srgb(197,52,87)" ] || { echo "FAIL: shutter $n is not what shows at ($x, $y)"; fail=1; }
  xdotool mousemove $((CX + x)) $((CY + y)) click 1
  if until_true 5 grep -q "^shutter command: 02 07 01 08 02 08 01 00 (code ok)" "$ART/resize-phone-$((n - 1)).log"; then
    echo "ok: shutter $n reached phone $n"
  else
    echo "FAIL: shutter $n did not reach phone $n"; fail=1
  fi
done
for n in 1 2 3; do
  count=$(grep -c "^shutter command" "$ART/resize-phone-$((n - 1)).log" || true)
  [ "$count" = 1 ] || { echo "FAIL: phone $n received $count shutter commands"; fail=1; }
done

# The third phone has fallen silent: its position says so within 2.5 s of its last frame.
stale_shown() {
  import -window "$main" "$ART/resize-stale.png"
  ocr_window "$main" "$ART/resize-stale-ocr" | grep -qi "no frames for"
}
until_true 15 stale_shown && echo "ok: the silent phone's position is marked" ||
  { echo "FAIL: no stale mark for the silent phone"; fail=1; }
frame_holds 2 || { echo "FAIL: frame left the work area after the resize"; fail=1; }

send_keys "$main" ctrl+q
wait_exit "$app" 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
[ $fail = 0 ] && echo PASS
exit $fail
