# Helpers for end-to-end tests of the real binary. Source inside an X server (own-display.sh).
set -euo pipefail

# Waits for a window whose name matches $1; prints its id.
wait_window() {
  local name=$1 tries=${2:-100} id
  for ((i = 0; i < tries; i++)); do
    id=$(xdotool search --onlyvisible --name "$name" 2>/dev/null | head -n 1 || true)
    [ -n "$id" ] && { echo "$id"; return 0; }
    sleep 0.1
  done
  echo "no window named '$name'" >&2
  return 1
}

# Runs a command until it succeeds, for up to $1 seconds; the status of its last run. Waits are on
# conditions with a deadline, never on a fixed time.
until_true() {
  local end=$((SECONDS + $1)); shift
  while ((SECONDS < end)); do "$@" && return 0; sleep 0.1; done
  "$@"
}

# Starts a simulated phone (its command line after $1) writing to log $1, and returns once it is
# connected and 0.1 s more: one host connecting twice within 1 ms is one phone's connection race,
# and the later connection is dropped, so the next phone starts only after that, however slow the
# machine. Leaves its process id in PHONE_PID; false when it did not connect within 25 s.
start_phone() {
  local log=$1; shift
  "$@" >"$log" 2>&1 &
  PHONE_PID=$!
  until_true 25 grep -q "^connected" "$log" || return 1
  sleep 0.1
}

# Sends keys to a window after giving it the input focus.
send_keys() {
  local id=$1; shift
  xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
  xdotool key --clearmodifiers "$@"
}

# Prints the text tesseract reads in a screenshot of window $1 (scaled up for the OCR).
ocr_window() {
  local id=$1 out=$2
  import -window "$id" "$out.png"
  convert "$out.png" -resize 200% -colorspace Gray "$out-ocr.png"
  tesseract "$out-ocr.png" - 2>/dev/null
}

# The accessibility client (a11y_probe.py) on the test's own bus (with-a11y.sh): "press PID NAME",
# "wait PID NAME [STATE]", "set PID NAME VALUE", "dump PID". Each waits for what it looks for.
a11y() { /usr/bin/python3 -W ignore "${QR_A11Y_PROBE:?run the test under with-a11y.sh}" "$@"; }

# Picks "Burst Photo Set Media Player" in the start dialog of program $1, presses "Proceed" on the
# welcome dialog, and prints the main window's id once it shows. Both dialogs share a title: each is
# found by the button it holds, and its button is pressed by name.
enter_player_mode() {
  local pid=$1 main
  a11y press "$pid" "Burst Photo Set Media Player" >&2 || return 1
  a11y press "$pid" "Proceed" >&2 || return 1
  main=$(wait_window "^Quintaray TV/Studio \(v1.3 / Build #74\)$" 300) || return 1
  wait_settled "$main" || true
  echo "$main"
}

# Picks "Multi View Capture (Master)" in the start dialog of program $1, types the 6-digit code $2
# into the code field once it has the focus, keeps a shot of the dialog in $3 when given, presses
# "Proceed", and prints the main window's id once it shows.
enter_mvc_master() {
  local pid=$1 code=$2 shot=${3:-} dialog main
  a11y press "$pid" "Multi View Capture (Master)" >&2 || return 1
  a11y wait "$pid" "6-digit Secret Code" focused >/dev/null || return 1
  dialog=$(wait_window "^Quintaray TV/Studio$") || return 1
  send_keys "$dialog" $(echo "$code" | sed 's/./& /g') >&2
  [ -z "$shot" ] || shot_framed "$dialog" "$shot"
  a11y press "$pid" "Proceed" >&2 || return 1
  main=$(wait_window "^Quintaray TV/Studio \(v1.3 / Build #74\)$" 300) || return 1
  echo "$main"
}

# Waits up to $2 seconds for process $1, a child of this shell, to end; sets EXIT_CODE to its exit
# code, or to "timeout". Call it directly, not in $(...): only the shell that started a process can
# reap it.
wait_exit() {
  local pid=$1 secs=${2:-10}
  EXIT_CODE=timeout
  for ((i = 0; i < secs * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      EXIT_CODE=0
      wait "$pid" || EXIT_CODE=$?
      return 0
    fi
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
}

# Starts Debian's openbox in this X server, as a user's desktop has a window manager, and waits
# until it manages windows. It ends with the X server.
start_wm() {
  openbox --sm-disable >/dev/null 2>&1 &
  WM_PID=$!
  for ((i = 0; i < 200; i++)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id" && return 0
    sleep 0.1
  done
  echo "openbox did not start" >&2
  return 1
}

# Prints the client area of window $1 as "x y width height" (root coordinates, device pixels).
client_geometry() {
  xwininfo -id "$1" | awk '/Absolute upper-left X/ {x = $4} /Absolute upper-left Y/ {y = $4}
    /^ *Width:/ {w = $2} /^ *Height:/ {h = $2} END {print x, y, w, h}'
}

# Prints the frame of window $1, decorations included, as "x y width height".
frame_geometry() {
  local x y w h l r t b
  read -r x y w h < <(client_geometry "$1")
  read -r l r t b < <(xprop -id "$1" _NET_FRAME_EXTENTS | awk -F'= ' '{gsub(",", ""); print $2}')
  echo $((x - ${l:-0})) $((y - ${t:-0})) $((w + ${l:-0} + ${r:-0})) $((h + ${t:-0} + ${b:-0}))
}

# Waits up to 10 s until the frame of window $1 has kept one geometry for 1 s: the program corrects
# its size 0.3 s after a resize ends, the window manager places a new window once it maps.
wait_settled() {
  local id=$1 last= now= same=0
  for ((i = 0; i < 50; i++)); do
    now=$(frame_geometry "$id" 2>/dev/null || true)
    if [ -n "$now" ] && [ "$now" = "$last" ]; then same=$((same + 1)); else same=0; fi
    [ $same -ge 5 ] && return 0
    last=$now
    sleep 0.2
  done
  echo "window $id did not settle (last frame $now)" >&2
  return 1
}

# Prints the window manager's work area (the available area) as "x y width height".
work_area() {
  xprop -root _NET_WORKAREA | awk -F'= ' '{split($2, a, ", "); print a[1], a[2], a[3], a[4]}'
}

# Fails unless the frame of window $1 is "x y width height" ($2), within $3 pixels (default 0).
check_frame() {
  local id=$1 want=$2 tol=${3:-0} got
  got=$(frame_geometry "$id")
  echo "frame $got, expected $want (extents $(xprop -id "$id" _NET_FRAME_EXTENTS | awk -F'= ' '{print $2}'))"
  read -r gx gy gw gh <<<"$got"
  read -r wx wy ww wh <<<"$want"
  for d in $((gx - wx)) $((gy - wy)) $((gw - ww)) $((gh - wh)); do
    [ "${d#-}" -le "$tol" ] || { echo "FAIL: frame $got is not $want"; return 1; }
  done
}

# Drags the bottom-right corner of window $1's frame by ($2, $3) pixels with the mouse, as a user
# does, so the window manager applies its size rules while dragging.
drag_corner() {
  local id=$1 dx=$2 dy=$3 x y w h sx sy
  read -r x y w h < <(frame_geometry "$id")
  sx=$((x + w - 2)) sy=$((y + h - 2))
  xdotool mousemove "$sx" "$sy" mousedown 1
  for i in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $((sx + dx * i / 10)) $((sy + dy * i / 10))
    sleep 0.05
  done
  xdotool mouseup 1
  sleep 0.3
  wait_settled "$id" || true
}

# Fails unless window $1's client area is 16:9 up to the resize computation's rounding of the
# height (a multiple of 4 for the display); prints the size.
check_16x9() {
  local x y w h
  read -r x y w h < <(client_geometry "$1")
  echo "client ${w}x${h}"
  awk -v w="$w" -v h="$h" 'BEGIN { d = h - w * 9 / 16; exit !(d <= 4 && d >= -4) }' ||
    { echo "FAIL: ${w}x${h} is not 16:9"; return 1; }
}

# Writes a screenshot of window $1 with its decorations to $2.
shot_framed() {
  local x y w h
  read -r x y w h < <(frame_geometry "$1")
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$2"
}
