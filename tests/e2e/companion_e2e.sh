#!/usr/bin/env bash
# The real binary under Xvfb and openbox in companion mode (offered because uname() is made to
# report arm64): after the dialog is dismissed the frame, title bar included, is a quarter of the
# screen's width and half its height at the work area's bottom-left corner, and a drag of its corner
# does not make it larger.
#   companion_e2e.sh APP FAKE_ARM64_SOURCE
set -euo pipefail
APP=$1 FAKE=$2
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"

work=$(mktemp -d)
cc -shared -fPIC -o "$work/fake_arm64.so" "$FAKE" -ldl
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_DATA_HOME=$work/.local/share
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
unset QT_QPA_PLATFORM
start_wm

LD_PRELOAD="$work/fake_arm64.so" "$APP" &
pid=$!
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
a11y press "$pid" "Quintaray on Apple Si Mac"
# The companion dialog shares the chooser's title: it is the one that holds "Dismiss".
a11y wait "$pid" "Dismiss" >/dev/null
dialog=$(wait_window "^Quintaray TV/Studio$")
shot_framed "$dialog" "$ART/companion-dialog.png"
a11y press "$pid" "Dismiss"
main=$(wait_window "^Quintaray TV/Studio \(v1.3 / Build #74\)$" 300)
wait_settled "$main" || true

read -r SW SH < <(xdpyinfo | awk '/dimensions:/ {split($2, d, "x"); print d[1], d[2]}')
read -r ax ay aw ah < <(work_area)
fail=0
check_frame "$main" "$ax $((ay + ah - SH / 2)) $((SW / 4)) $((SH / 2))" || fail=1
shot_framed "$main" "$ART/companion.png"
drag_corner "$main" 200 -100
check_frame "$main" "$ax $((ay + ah - SH / 2)) $((SW / 4)) $((SH / 2))" || { echo "FAIL: grew past its maximum"; fail=1; }

send_keys "$main" ctrl+q
wait_exit $pid 10
[ "$EXIT_CODE" = 0 ] || { echo "FAIL: exit code $EXIT_CODE after Ctrl+Q"; fail=1; }
[ $fail = 0 ] && echo PASS
exit $fail
