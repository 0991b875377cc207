#!/usr/bin/env bash
# Companion mode, shown on this machine by making uname() report arm64. Run inside an X server;
# the dialog is taken with the decorations openbox gives it.
#   companion.sh APP OUT.png
set -euo pipefail
APP=$1 OUT=$2
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/../../tests/e2e/lib.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cc -shared -fPIC -o "$work/fake_arm64.so" "$HERE/fake_arm64.c" -ldl
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_DATA_HOME=$work/.local/share
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
touch "$HOME/Downloads/burst_001.krox" "$HOME/Downloads/take_2.kroa"
unset QT_QPA_PLATFORM
start_wm
LD_PRELOAD="$work/fake_arm64.so" "$APP" &
pid=$!
chooser=$(wait_window "^Quintaray TV/Studio$")
sleep 0.5
send_keys "$chooser" space # the first button: "Quintaray on Apple Si Mac"
sleep 1
dialog=$(wait_window "^Quintaray TV/Studio$")
shot_framed "$dialog" "$OUT"
kill $pid 2>/dev/null || true
wait $pid 2>/dev/null || true
