#!/usr/bin/env bash
# The real binary under Xvfb and openbox as an assistive technology sees it: a private D-Bus session
# with its own accessibility bus, the program with its AT-SPI bridge on, and an AT-SPI client
# (a11y_probe.py) that reads the objects from the bus. Each value label's description is the value
# it shows on the screen (read back by OCR from the label's own extents): the photo number and the
# photos-per-second label of a demo set playing at a speed set through the bus; the three
# frame-rate labels of a Multi View Capture master with three simulated phones at 10, 15 and 20 fps.
#   a11y_e2e.sh APP DEMO_GEN PHONE_SIM
# Run it in a network namespace that holds only loopback (tests/mvc/run-in-netns.sh). Exit code 77
# (skipped) when no accessibility bus can be started here.
set -euo pipefail
APP=$1 DEMO_GEN=$2 SIM=$3
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; }
trap cleanup EXIT

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
unset QT_QPA_PLATFORM
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
"$DEMO_GEN" --no-raw --no-heic "$HOME/Downloads" 2>/dev/null
start_wm
probe() { a11y "$@"; }
fail=0

# Prints the description and the extents of the label named $2 in program $1: "DESCRIPTION|X Y W H".
label() {
  probe dump "$1" | awk -F'\t' -v n="$2" '$1 == "label" && $2 == n { print $3 "|" $4; exit }'
}
# Prints what OCR reads in the screen area "X Y W H" ($1), file name $2, of text in colour $3, one
# reading a line. The crop is enlarged first (smoothly: a lone "8" enlarged after keying reads as
# "&"), then only pixels near the text's colour are kept (black on white), so what lies behind the
# label (a photo, a phone's picture) cannot change what is read. Two readings, a line and a line of
# digits only (tesseract reads a lone bold italic "1" as "I" now and then); one has to match.
ocr_area() {
  local x y w h img=$ART/$2-ocr.png
  read -r x y w h <<<"$1"
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$ART/$2.png"
  convert "$ART/$2.png" -resize 400% -fuzz 30% -fill magenta +opaque "$3" -fuzz 0 -fill black \
    +opaque magenta -fill white -opaque magenta -bordercolor white -border 40 "$img"
  tesseract "$img" - --psm 7 2>/dev/null | tr -d '\n' | sed 's/ *$//'
  echo
  tesseract "$img" - --psm 7 -c tessedit_char_whitelist='0123456789. fps' 2>/dev/null | tr -d '\n' |
    sed 's/ *$//'
  echo
}
# Waits up to 20 s until the label named $2 in program $1 has a description that reads the same three
# times in a row, 0.3 s apart: a value is compared with the screen only while it is not changing.
wait_steady() {
  local got last= same=0
  local end=$((SECONDS + 20))
  while [ $SECONDS -lt $end ]; do
    got=$(label "$1" "$2")
    if [ -n "${got%%|*}" ] && [ "$got" = "$last" ]; then same=$((same + 1)); else same=0; fi
    [ $same -ge 2 ] && return 0
    last=$got
    sleep 0.3
  done
  echo "FAIL: '$2' did not settle (last described as '${got%%|*}')"
  fail=1
  return 1
}
# Waits up to 20 s until the label named $2 in program $1 is described otherwise than "$3".
wait_changed() {
  local got
  local end=$((SECONDS + 20))
  while [ $SECONDS -lt $end ]; do
    got=$(label "$1" "$2")
    [ -n "${got%%|*}" ] && [ "${got%%|*}" != "$3" ] && { echo "${got%%|*}"; return 0; }
    sleep 0.1
  done
  return 1
}
# Fails unless the label named $2 in program $1 (text in colour $3), once steady, describes itself as
# what it shows and, when given, as matching the regular expression $4.
check_label() {
  local got desc ext shown
  wait_steady "$1" "$2" || return 0
  got=$(label "$1" "$2")
  desc=${got%%|*} ext=${got#*|}
  if [ -z "$got" ] || [ -z "$desc" ]; then echo "FAIL: '$2' has no description"; fail=1; return; fi
  shown=$(ocr_area "$ext" "a11y-${2// /-}" "$3")
  [ "$(label "$1" "$2")" = "$got" ] || { echo "FAIL: '$2' changed while it was read"; fail=1; return 0; }
  if grep -qxF -- "$desc" <<<"$shown"; then echo "ok: '$2' describes itself as '$desc', the value it shows"
  else echo "FAIL: '$2' describes itself as '$desc' but shows '$(paste -sd '|' <<<"$shown")'"; fail=1; fi
  if [ -n "${4:-}" ] && ! grep -qE "$4" <<<"$desc"; then echo "FAIL: '$2': '$desc' is not $4"; fail=1; fi
}

echo "--- player, a demo set playing"
"$APP" >"$ART/a11y-player.log" 2>&1 &
app=$!
pids+=($app)
main=$(enter_player_mode "$app")
probe press "$app" "Generate Playlist" || { echo "FAIL: no Generate Playlist button on the bus"; fail=1; }
first=$(wait_changed "$app" "Photo number" "") || first=
second=$(wait_changed "$app" "Photo number" "$first") || second=
echo "photo number described as '$first', then as '$second'"
if [ -n "$first" ] && [ -n "$second" ]; then echo "ok: the description follows the photo shown"
else echo "FAIL: the photo number's description does not follow playback"; fail=1; fi
# The Speed slider runs over 0 to 10000 on the bus; 8000 is 15 photos per second.
probe set "$app" "Speed" 8000 || { echo "FAIL: Speed cannot be set through the bus"; fail=1; }
# The check below says what it is when it never becomes 15.
speed_is_15() { [ "$(label "$app" "Photos per second" | cut -d'|' -f1)" = 15 ]; }
until_true 20 speed_is_15 || true
probe press "$app" "Pause" || { echo "FAIL: no Pause button on the bus"; fail=1; }
check_label "$app" "Photo number" white '^[0-9]+$'
check_label "$app" "Photos per second" white '^15$'
send_keys "$main" ctrl+q
wait_exit "$app" 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }

echo "--- Multi View Capture master, three phones"
"$APP" >"$ART/a11y-mvc.log" 2>&1 &
app=$!
pids+=($app)
main=$(enter_mvc_master "$app" 314159)
wait_settled "$main" || true
phones=()
for phone in "0 10" "1 15" "2 20"; do
  read -r view fps <<<"$phone"
  # 4 s of frames, then the phone ends: the label keeps the last figure.
  start_phone "$ART/a11y-phone-$view.log" "$SIM" --mdns-server 127.0.0.1 --wait 20 --view "$view" \
    --width 640 --height 480 --fps "$fps" --frames $((fps * 4)) --code 314159 ||
    { echo "FAIL: phone $view did not connect"; fail=1; }
  phones+=("$PHONE_PID")
  pids+=("$PHONE_PID")
done
for p in "${phones[@]}"; do wait "$p" || true; done
for row in "1 10" "2 15" "3 20"; do
  read -r n fps <<<"$row"
  check_label "$app" "Frame rate, position $n" 'rgb(0,0,255)' "^($((fps - 1))\.[5-9]|$fps\.[0-4]) fps$"
done
send_keys "$main" ctrl+q
wait_exit "$app" 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
[ $fail = 0 ] && echo PASS
exit $fail
