#!/usr/bin/env bash
# The real binary under Xvfb with two signed JPEG sets in Downloads and, beside them, an entry that
# is no regular file under a name the playlist pass looks for (a FIFO x.krox or x.rgb2, a link to
# /dev/zero named x.rgb2, a link to /dev/urandom named x.krox), or a regular file where the Favorites
# folder goes. Each row: Generate Playlist plays the sets, Copy (Favorites row) writes a favourite,
# and Ctrl+Q ends the program with exit code 0 within 5 seconds.
#   odd_entries_e2e.sh APP DEMO_GEN
set -euo pipefail
APP=$1 DEMO_GEN=$2
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/../e2e/lib.sh"
unset QT_QPA_PLATFORM
fail=0

row() {
  local kind=$1 name=$2
  export HOME=$(mktemp -d)
  export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
  local downloads=$HOME/Downloads favorites=$XDG_DATA_HOME/Quintaray/quintaray-tv-studio/Favorites
  mkdir -p "$downloads" "$XDG_CONFIG_HOME" "$(dirname "$favorites")"
  printf 'XDG_DOWNLOAD_DIR="%s"\n' "$downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
  "$DEMO_GEN" --no-raw --no-heic "$downloads" 2>/dev/null
  case $kind in
    fifo) mkfifo "$downloads/$name" ;;
    link) ln -s "$name" "$downloads/x.${name#*:}"; name=${name%%:*} ;;
    favorites) echo "not a folder" >"$favorites" ;;
  esac
  local tag=${kind}-${name//\//_}
  "$APP" &
  local pid=$!
  main=$(enter_player_mode)
  eval "$(xdotool getwindowgeometry --shell "$main")"
  import -window "$main" "$ART/odd-$tag-layout.png"
  # The main display's accent border gives its left edge (at W/2) and its bottom edge.
  local left bottom W H COL base
  left=$(convert "$ART/odd-$tag-layout.png" -crop "${WIDTH}x1+0+$((HEIGHT * 2 / 3))" txt:- |
    awk -F'[,: ]+' '!found && /#D24D57/ { print $1; found = 1 }')
  W=$((left * 2)) H=$((left * 8 / 3)) COL=$((WIDTH - 4 * left))
  bottom=$(convert "$ART/odd-$tag-layout.png" -crop "1x${HEIGHT}+$W+0" txt:- |
    awk -F'[,: ]+' '/#D24D57/ { last = $2 } END { print last }')
  base=$((HEIGHT - bottom - 1))
  # Generate Playlist, in render view 4 under the side previews.
  xdotool mousemove $((2 * W + COL / 2)) $((HEIGHT - base - $(awk -v h=$H 'BEGIN { printf "%d", 0.2083333 * h / 3 + 25 }'))) click 1
  sleep 4
  import -window "$main" "$ART/odd-$tag.png"
  local spread
  spread=$(convert "$ART/odd-$tag.png" -crop "$((W - 80))x$((H / 3))+$((W / 2 + 40))+$((HEIGHT - base - H * 5 / 6))" \
    -colorspace Gray -format "%[fx:standard_deviation]" info:)
  if awk -v v="$spread" 'BEGIN { exit !(v > 0.02) }'; then echo "ok: $tag: sets play ($spread)"; else
    echo "FAIL: $tag: nothing plays ($spread)"; fail=1; fi
  if [ "$kind" = favorites ]; then
    send_keys "$main" space # pause: Copy appears in the tools panel
    sleep 0.7
    xdotool mousemove $(awk -v w=$W -v c=$COL 'BEGIN { printf "%d", 2 * w + 0.25 * c - 60 + 10 }') \
      $((HEIGHT - base - $(awk -v h=$H 'BEGIN { printf "%d", 0.2083333 * h / 3 + 22 }'))) click 1
    sleep 1
    local copied
    copied=$(find "$favorites" -maxdepth 1 -type f 2>/dev/null | wc -l)
    if [ -d "$favorites" ] && [ "$copied" = 1 ]; then echo "ok: $tag: Favorites is a folder, Copy wrote 1 file"; else
      echo "FAIL: $tag: Favorites $(stat -c %F "$favorites" 2>&1), $copied files"; fail=1; fi
  fi
  send_keys "$main" ctrl+q
  wait_exit $pid 5
  if [ "$EXIT_CODE" = 0 ]; then echo "ok: $tag: Ctrl+Q ended the program, exit code 0"; else
    echo "FAIL: $tag: after Ctrl+Q: $EXIT_CODE"; fail=1; kill -9 $pid 2>/dev/null || true; fi
}

row fifo x.krox
row fifo x.rgb2
row link /dev/zero:rgb2
row link /dev/urandom:krox
row favorites -
[ $fail = 0 ] && echo PASS
exit $fail
