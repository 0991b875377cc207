#!/usr/bin/env bash
# Runs a test in a D-Bus session of its own with an accessibility bus, as a desktop has one:
#   with-a11y.sh COMMAND [ARGS...]
# The program's AT-SPI bridge is on, and lib.sh's helpers find dialogs and press buttons over the bus
# by their accessible names (a11y_probe.py). The buses end with the test. Exit code 77 (skipped)
# when no bus can be started here.
set -euo pipefail
if [ -z "${QR_A11Y_SESSION:-}" ]; then
  command -v dbus-run-session >/dev/null || { echo "SKIP: no dbus-run-session"; exit 77; }
  QR_A11Y_SESSION=1 exec dbus-run-session -- bash "$0" "$@"
fi
launcher=
for l in /usr/libexec/at-spi-bus-launcher /usr/lib/at-spi2-core/at-spi-bus-launcher; do
  [ -x "$l" ] && launcher=$l && break
done
[ -n "$launcher" ] || { echo "SKIP: no at-spi-bus-launcher"; exit 77; }
log=$(mktemp)
"$launcher" --launch-immediately >"$log" 2>&1 &
bus=$!
trap 'kill "$bus" 2>/dev/null || true; wait "$bus" 2>/dev/null || true; rm -f "$log"' EXIT
deadline=$((SECONDS + 30))
until gdbus call --session --dest org.a11y.Bus --object-path /org/a11y/bus \
  --method org.a11y.Bus.GetAddress >/dev/null 2>&1; do
  if [ $SECONDS -ge $deadline ] || ! kill -0 "$bus" 2>/dev/null; then
    echo "SKIP: the accessibility bus did not start"
    cat "$log"
    exit 77
  fi
  sleep 0.1
done
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
export QR_A11Y_PROBE=$(cd "$(dirname "$0")" && pwd)/a11y_probe.py
status=0
"$@" || status=$?
exit "$status"
