#!/usr/bin/env bash
# The real binary under Xvfb and openbox with a scratch HOME holding two signed JPEG sets in
# Downloads: choose the media player, Proceed, Generate Playlist; then check and keep a screenshot
# of the player, its frame on the work area, and resizes that keep 16:9.
#   player_e2e.sh APP DEMO_GEN SCALE
# SCALE 1 runs on a 1920x1080 screen; SCALE 2 runs with QT_SCALE_FACTOR=2 on a 2880x1800 screen.
set -euo pipefail
APP=$1 DEMO_GEN=$2 SCALE=$3
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/../e2e/lib.sh"

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
unset QT_QPA_PLATFORM
"$DEMO_GEN" --no-raw --no-heic "$HOME/Downloads" 2>/dev/null
[ "$SCALE" = 2 ] && export QT_SCALE_FACTOR=2

start_wm
read -r SW SH < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
LW=$((SW / SCALE)) LH=$((SH / SCALE)) # the screen in points

"$APP" &
pid=$!
trap 'kill $pid 2>/dev/null || true' EXIT
main=$(enter_player_mode "$pid")
# The frame, title bar included, covers the work area. At scale 2 the client area moves in steps of
# two device pixels, so odd decoration widths leave up to two pixels of the area uncovered.
check_frame "$main" "$(work_area)" $((2 * (SCALE - 1))) || exit 1

read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
WINH=$((HEIGHT / SCALE))
# Where the layout is, read off the window: the accent border of the main display gives its left
# edge (at W/2) and its bottom edge; the display is 3:4.
import -window "$main" "$ART/layout-scale$SCALE.png"
accent_cols() { convert "$ART/layout-scale$SCALE.png" -crop "${WIDTH}x1+0+$1" txt:- |
  awk -F'[,: ]+' '!found && /#D24D57/ { print $1; found = 1 }'; }
accent_rows() { convert "$ART/layout-scale$SCALE.png" -crop "1x${HEIGHT}+$1+0" txt:- |
  awk -F'[,: ]+' '/#D24D57/ { last = $2 } END { print last }'; }
left=$(accent_cols $((HEIGHT * 2 / 3)))
W=$((left * 2 / SCALE))
H=$((W * 4 / 3))
bottom=$(accent_rows $((W * SCALE)))
BASE=$((WINH - (bottom + 1) / SCALE)) # the display's bottom edge, in points above the window's
COL=$((LW - 2 * W))
echo "screen ${LW}x${LH} points, window ${WIDTH}x${HEIGHT}, display ${W}x${H} at $BASE, column $COL"
[ "$W" -gt 100 ] || { echo "FAIL: no main display"; exit 1; }
# A point (x, y from the display's bottom) as a device pixel of the window.
px() { awk -v x="$1" -v y="$2" -v s=$SCALE -v wh=$WINH -v b=$BASE 'BEGIN { printf "%d %d\n", x * s, (wh - b - y) * s }'; }

retina=$([ "$SCALE" = 2 ] && echo 1 || echo 0)
a11y press "$pid" "Generate Playlist"

# From a cold start (no display copies on disk yet), once the first photo is up the main display
# shows a photo in every sampled frame, also across moves to the next set and back (Page Up, Down).
box_spread() { # FILE X Y W H: standard deviation of a box of points (x, y from the display's bottom)
  convert "$1" -crop "$(($4 * SCALE))x$(($5 * SCALE))+$(($2 * SCALE))+$(((WINH - BASE - $3 - $5) * SCALE))" \
    -colorspace Gray -format "%[fx:standard_deviation]" info:
}
photo_up() {
  import -window "$main" "$ART/sample-scale$SCALE.png"
  v=$(box_spread "$ART/sample-scale$SCALE.png" $((W / 2 + 40)) $((H / 2)) $((W - 80)) $((H / 3)))
  awk -v v="$v" 'BEGIN { exit !(v > 0.02) }'
}
until_true 60 photo_up || { echo "FAIL: no photo on the main display 60 s after Generate Playlist"; exit 1; }
empty=0 samples=0
for i in $(seq 1 16); do
  photo_up || { empty=$((empty + 1)); cp "$ART/sample-scale$SCALE.png" "$ART/empty-$i-scale$SCALE.png"; }
  samples=$((samples + 1))
  [ "$i" = 6 ] && send_keys "$main" Prior # to set 2
  [ "$i" = 11 ] && send_keys "$main" Next # and back
  sleep 0.15
done
echo "sampled frames with a photo up: $samples, empty among them: $empty"
[ $empty = 0 ] || { echo "FAIL: the main display was empty while playing"; exit 1; }
shot="$ART/player-scale$SCALE.png"
fail=0
# Standard deviation of a box of points (x, y from the display's bottom, width, height): photos
# vary, empty panels do not.
spread() {
  local x=$1 y=$2 w=$3 h=$4
  convert "$shot" -crop "$((w * SCALE))x$((h * SCALE))+$((x * SCALE))+$(((WINH - BASE - y - h) * SCALE))" \
    -colorspace Gray -format "%[fx:standard_deviation]" info:
}
colour() { convert "$shot" -format "%[pixel:p{$1,$2}]" info:; }
check() { if awk -v v="$2" -v m="$3" 'BEGIN { exit !(v > m) }'; then echo "ok: $1 ($2)"; else echo "FAIL: $1 ($2)"; fail=1; fi; }

third=$((H / 3))
# The side previews come after the main display's photo: the screenshot is taken once all three
# panels show one (or after 30 s, and the checks below say which did not).
panels_up() {
  import -window "$main" "$shot"
  local a b c
  a=$(spread $((W / 2 + 40)) $((H / 2)) $((W - 80)) $((H / 3)))
  b=$(spread $((2 * W + 10)) $((2 * third + 20)) $((COL - 20)) $((third - 40)))
  c=$(spread $((2 * W + 10)) $((third + 20)) $((COL - 20)) $((third - 40)))
  awk -v a="$a" -v b="$b" -v c="$c" 'BEGIN { exit !(a > 0.02 && b > 0.01 && c > 0.01) }'
}
until_true 30 panels_up || true
echo "screenshot: $shot"
# Seconds after start, with photos playing, the frame still covers the work area.
check_frame "$main" "$(work_area)" $((2 * (SCALE - 1))) || fail=1
check "photo in the main display" "$(spread $((W / 2 + 40)) $((H / 2)) $((W - 80)) $((H / 3)))" 0.02
check "photo in the upper side panel" "$(spread $((2 * W + 10)) $((2 * third + 20)) $((COL - 20)) $((third - 40)))" 0.01
check "photo in the middle side panel" "$(spread $((2 * W + 10)) $((third + 20)) $((COL - 20)) $((third - 40)))" 0.01

# The bottom row of render view 4 is on the screen: the panel's lower border shows in a shot of the
# whole screen, inside the window's client area.
import -window root "$ART/screen-scale$SCALE.png"
rowcol=$((CX + (2 * W + COL / 2) * SCALE))
lowest=$(convert "$ART/screen-scale$SCALE.png" -crop "1x${SH}+${rowcol}+0" txt:- |
  awk -F'[,: ]+' '/#D24D57/ { last = $2 } END { print last + 0 }')
echo "lowest accent row of render view 4 on screen: $lowest (client bottom $((CY + HEIGHT - 1)), screen $SH)"
[ "$lowest" -ge $((CY + HEIGHT - 1 - 4 * SCALE)) ] && [ "$lowest" -lt "$SH" ] ||
  { echo "FAIL: the bottom of render view 4 is not on the screen"; fail=1; }
shot_framed "$main" "$ART/player-scale$SCALE-framed.png"

# The bar: dark, centred under the main display, 30 points above the bottom.
barw=$([ "$SCALE" = 2 ] && echo 450 || echo 500)
read -r bx by < <(px $(((2 * W - barw) / 2 + 3)) $((30 + 25)))
c=$(colour "$bx" "$by")
echo "bar edge: $c"
[ "$c" = "srgb(44,46,57)" ] || { echo "FAIL: no controller bar at its place"; fail=1; }
read -r bx by < <(px $(((2 * W + barw) / 2 - 3)) $((30 + 25)))
[ "$(colour "$bx" "$by")" = "srgb(44,46,57)" ] || { echo "FAIL: bar not centred"; fail=1; }

# The tools panel in render view 4: the zoom slider's accent background near its left end.
sh=$([ "$SCALE" = 2 ] && echo 15 || echo 30)
read -r zx zy < <(px "$(awk -v w=$W -v c=$COL 'BEGIN { printf "%d", 2 * w + 0.1 * c + 2 }')" \
  "$(awk -v h=$H -v s=$sh 'BEGIN { printf "%d", 0.8416667 * h / 3 + s - 2 }')")
c=$(colour "$zx" "$zy")
echo "zoom slider: $c"
[ "$c" = "srgb(210,77,87)" ] || { echo "FAIL: no zoom slider in render view 4"; fail=1; }

# Playback is playback: at 1 photo per second the main display changes (looked at for up to 10 s).
crop="$((W * SCALE - 80))x$((H * SCALE / 2))+$(((W / 2 + 40) * SCALE))+$(((WINH - BASE - H * 3 / 4) * SCALE))"
convert "$shot" -crop "$crop" +repage "$ART/a-scale$SCALE.png"
display_changed() {
  import -window "$main" "$ART/later-scale$SCALE.png"
  convert "$ART/later-scale$SCALE.png" -crop "$crop" +repage "$ART/b-scale$SCALE.png"
  changed=$(compare -metric AE -fuzz 5% "$ART/a-scale$SCALE.png" "$ART/b-scale$SCALE.png" null: 2>&1 || true)
  [[ "$changed" =~ ^[0-9]+$ ]] || { echo "could not compare screenshots: $changed"; changed=0; }
  [ "$changed" -gt 1000 ]
}
until_true 10 display_changed || true
check "main display changed while playing (pixels)" "$changed" 1000

# Space pauses (the bar's play/pause command); with the tools panel showing, Copy appears.
send_keys "$main" space
cw=$([ "$SCALE" = 2 ] && echo 30 || echo 45)
read -r cx cy < <(px "$(awk -v w=$W -v c=$COL -v r=$retina 'BEGIN { printf "%d", 2 * w + 0.25 * c - (r ? 37.5 : 60) + 4 }')" \
  "$(awk -v h=$H -v b=$cw 'BEGIN { printf "%d", 0.2083333 * h / 3 + b / 2 }')")
copy_shown() {
  import -window "$main" "$ART/paused-scale$SCALE.png"
  light=$(convert "$ART/paused-scale$SCALE.png" -format "%[fx:p{$cx,$cy}.intensity]" info:)
  awk -v v="$light" 'BEGIN { exit !(v > 0.7) }'
}
until_true 10 copy_shown || true
check "Copy shown after Space paused playback" "$light" 0.7

# A resize rebuilds the layout for the new size W' and zooms the display out to the first photo's
# width (768 points for these sets) about its centre at W': its left edge moves to W' - 384. The
# window manager keeps the client area at 16:9, so 1700 x 1000 becomes 1700 x 956 (W' 702); at
# scale 2, 2560 pixels is a standard width whose height is 1440 (W' 540).
if [ "$SCALE" = 2 ]; then newsize="2560 1600"; else newsize="1700 1000"; fi
xdotool windowsize "$main" $newsize
wait_settled "$main" || true
check_16x9 "$main" || fail=1
read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
if [ "$SCALE" = 2 ]; then newW=540; else newW=$((3 * ((HEIGHT - 19) / 4))); fi
# The program rebuilds its layout once the size has settled; looked at until it has (up to 10 s).
rebuilt() {
  import -window "$main" "$ART/layout-scale$SCALE.png"
  left=$(accent_cols $((HEIGHT / 2)))
  [ -n "$left" ] && [ $((left / SCALE)) -ge $((newW - 384 - 1)) ] && [ $((left / SCALE)) -le $((newW - 384 + 1)) ]
}
until_true 10 rebuilt || true
echo "after resize: window ${WIDTH}x${HEIGHT}, display left edge at $((left / SCALE)), expected $((newW - 384))"
[ $((left / SCALE)) -ge $((newW - 384 - 1)) ] && [ $((left / SCALE)) -le $((newW - 384 + 1)) ] ||
  { echo "FAIL: display not rebuilt for the new size"; fail=1; }
import -window "$main" "$ART/resized-scale$SCALE.png"

# A user's drag of the frame's corner ends at 16:9 too, and never below the minimum width (1600
# pixels at scale 1; at scale 2 the resize computation's minimum is 1280 pixels).
drag_corner "$main" -300 -60
read -r CX CY WIDTH HEIGHT < <(client_geometry "$main")
echo "after dragging: ${WIDTH}x${HEIGHT}"
check_16x9 "$main" || fail=1
[ "$WIDTH" -ge $((SCALE == 2 ? 1280 : 1600)) ] || { echo "FAIL: dragged below the minimum width"; fail=1; }

send_keys "$main" ctrl+q
wait_exit "$pid" 10
trap - EXIT
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
[ $fail = 0 ] && echo PASS
exit $fail
