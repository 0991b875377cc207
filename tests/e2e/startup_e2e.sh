#!/usr/bin/env bash
# The real binary under Xvfb and openbox with a scratch HOME: the chooser shows its four buttons;
# cancelling it leaves a black window whose frame, decorations included, covers the available area;
# Ctrl+Q ends the process with exit code 0.
set -euo pipefail
APP=$1
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share
unset QT_QPA_PLATFORM
start_wm

"$APP" &
pid=$!
chooser=$(wait_window "^Quintaray TV/Studio$")
titles=("Quintaray on Apple Si Mac" "Multi View Capture (Master)" "Burst Photo Set Media Player" "Cancel")
# Read until every title shows (the dialog may map before it has painted), for up to 20 s.
shows_all() {
  text=$(ocr_window "$chooser" "$ART/chooser" | tr -s ' \n' ' ')
  for title in "${titles[@]}"; do grep -qiF "$title" <<<"$text" || return 1; done
}
until_true 20 shows_all || true
echo "chooser reads: $text"
for title in "${titles[@]}"; do
  if ! grep -qiF "$title" <<<"$text"; then
    echo "FAIL: chooser does not show '$title'"; kill $pid; exit 1
  fi
done

send_keys "$chooser" Escape
main=$(wait_window "^Quintaray TV/Studio \(v1.3 / Build #74\)$")
wait_settled "$main" || true
check_frame "$main" "$(work_area)" || { kill $pid; exit 1; }
read -r X Y WIDTH HEIGHT < <(client_geometry "$main")
# Below the menu bar the window is black.
import -window "$main" "$ART/cancelled.png"
mean=$(convert "$ART/cancelled.png" -crop "${WIDTH}x$((HEIGHT - 40))+0+40" -colorspace Gray -format "%[fx:mean]" info:)
echo "mean brightness below the menu bar: $mean"
awk -v m="$mean" 'BEGIN { exit !(m < 0.01) }' || { echo "FAIL: window is not black"; kill $pid; exit 1; }

send_keys "$main" ctrl+q
wait_exit $pid 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; exit 1; }
echo "PASS"
