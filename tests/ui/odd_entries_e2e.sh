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
  QT_LOGGING_RULES="quintaray.player.debug=true" "$APP" 2>"$ART/odd-$tag.log" &
  local pid=$!
  main=$(enter_player_mode "$pid")
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
  a11y press "$pid" "Generate Playlist"
  local spread
  plays() {
    import -window "$main" "$ART/odd-$tag.png"
    spread=$(convert "$ART/odd-$tag.png" -crop "$((W - 80))x$((H / 3))+$((W / 2 + 40))+$((HEIGHT - base - H * 5 / 6))" \
      -colorspace Gray -format "%[fx:standard_deviation]" info:)
    awk -v v="$spread" 'BEGIN { exit !(v > 0.02) }'
  }
  if until_true 60 plays; then echo "ok: $tag: sets play ($spread)"; else
    echo "FAIL: $tag: nothing plays ($spread)"; fail=1; fi
  if [ "$kind" = favorites ]; then
    send_keys "$main" space # pause: Copy appears in the tools panel
    # Found by its accessible name once it shows, and clicked there as a user clicks.
    local x y w h
    if read -r x y w h < <(a11y wait "$pid" "Copy photo into Favorites"); then
      xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    else
      echo "FAIL: $tag: no Copy button shown"; fail=1
    fi
    local copied=0
    copied_one() { copied=$(find "$favorites" -maxdepth 1 -type f 2>/dev/null | wc -l); [ "$copied" = 1 ]; }
    until_true 10 copied_one || true
    if [ -d "$favorites" ] && [ "$copied" = 1 ]; then echo "ok: $tag: Favorites is a folder, Copy wrote 1 file"; else
      echo "FAIL: $tag: Favorites $(stat -c %F "$favorites" 2>&1), $copied files"; fail=1
      grep -i "favourite\|pause\|transport" "$ART/odd-$tag.log" | tail -5; fi
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
