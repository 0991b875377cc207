# Helpers for end-to-end tests of the real binary. Source inside an X server (xvfb-run).
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
