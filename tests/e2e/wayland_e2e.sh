#!/usr/bin/env bash
# The program as a native Wayland client in a headless weston (pixman renderer, so that screenshots
# have pixels): chooser, welcome dialog and a demo set playing; the MVC dialog and master; the
# companion dialog and window. Quit ends each run with exit code 0.
#   wayland_e2e.sh DRIVER DEMO_GEN FAKE_ARM64_SOURCE
# Run it in a network namespace that holds only loopback (tests/mvc/run-in-netns.sh): MVC binds 5353.
set -euo pipefail
DRIVER=$1 DEMO_GEN=$2 FAKE=$3
ART=${ARTIFACTS:-$(mktemp -d)}

export HOME=$(mktemp -d)
export XDG_CONFIG_HOME=$HOME/.config XDG_DATA_HOME=$HOME/.local/share XDG_RUNTIME_DIR=$HOME/run
mkdir -p "$HOME/Downloads" "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf 'XDG_DOWNLOAD_DIR="%s"\n' "$HOME/Downloads" >"$XDG_CONFIG_HOME/user-dirs.dirs"
"$DEMO_GEN" --no-raw --no-heic "$HOME/Downloads" 2>/dev/null
cc -shared -fPIC -o "$HOME/fake_arm64.so" "$FAKE" -ldl
unset DISPLAY

# --debug lets weston-screenshooter take pictures of the output.
weston --backend=headless-backend.so --use-pixman --width=1920 --height=1080 --idle-time=0 --debug \
  --socket=qr-wayland >"$ART/weston.log" 2>&1 &
weston=$!
trap 'kill $weston 2>/dev/null || true' EXIT
for ((i = 0; i < 100; i++)); do [ -S "$XDG_RUNTIME_DIR/qr-wayland" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/qr-wayland" ] || { echo "FAIL: weston did not start"; cat "$ART/weston.log"; exit 1; }
export WAYLAND_DISPLAY=qr-wayland QT_QPA_PLATFORM=wayland

fail=0
for mode in player mvc companion; do
  echo "--- $mode"
  pre=""
  [ "$mode" = companion ] && pre="$HOME/fake_arm64.so"
  LD_PRELOAD=$pre timeout 90 "$DRIVER" "$mode" "$ART" || { echo "FAIL: $mode run"; fail=1; }
done
[ $fail = 0 ] && echo PASS
exit $fail
