#!/usr/bin/env bash
# The program in Multi View Capture mode beside a running avahi-daemon, on a private network the
# test builds itself: its own network and mount namespaces, a veth pair to a second namespace (the
# "phone" side), later a second pair to a third. An independent mDNS browser on the far side finds
# the service by multicast with the code's six TXT bytes and the listener's port; avahi's own
# service stays answered; a legacy unicast query is answered from an on-link source and not from an
# off-link one; an interface that comes up after start is answered too.
#   mdns_avahi_e2e.sh APP BROWSER       (as root; all traffic stays inside the namespaces made here)
set -euo pipefail
APP=$1 BROWSER=$2
if [ -z "${QR_AVAHI_NETNS:-}" ]; then
  unshare -n -m true 2>/dev/null || { echo "SKIP: network namespaces are not permitted here"; exit 77; }
  QR_AVAHI_NETNS=1 exec unshare -n -m bash "$0" "$@"
fi
ART=${ARTIFACTS:-$(mktemp -d)}
source "$(dirname "$0")/lib.sh"
ip link set lo up

work=$(mktemp -d)
pids=()
cleanup() {
  [ -s "$work/app.pid" ] && kill "$(cat "$work/app.pid")" 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

# The far sides: processes holding network namespaces of their own.
unshare -n sleep 300 >/dev/null 2>&1 &
B=$!
unshare -n sleep 300 >/dev/null 2>&1 &
C=$!
pids+=("$B" "$C")
own_ns() { [ "$(readlink "/proc/$1/ns/net" 2>/dev/null)" != "$(readlink /proc/self/ns/net)" ]; }
until_true 10 own_ns "$B" && until_true 10 own_ns "$C" || { echo "FAIL: no network namespaces"; exit 1; }
in_ns() { local pid=$1; shift; nsenter -t "$pid" -n "$@"; }
ip link add qr-a0 type veth peer name qr-b0 netns "$B"
ip addr add 10.77.0.1/24 dev qr-a0
ip link set qr-a0 up
in_ns "$B" ip link set lo up
in_ns "$B" ip addr add 10.77.0.2/24 dev qr-b0
in_ns "$B" ip link set qr-b0 up

# avahi-daemon without D-Bus, its runtime folder and static services private to this namespace;
# it publishes one service of its own.
mkdir -p /run/avahi-daemon /etc/avahi/services
mount -t tmpfs tmpfs /run/avahi-daemon
mount -t tmpfs tmpfs /etc/avahi/services
cat >/etc/avahi/services/side.service <<'XML'
<?xml version="1.0" standalone='no'?>
<!DOCTYPE service-group SYSTEM "avahi-service.dtd">
<service-group><name>avahi-side</name><service><type>_http._tcp</type><port>8080</port></service></service-group>
XML
cat >"$work/avahi.conf" <<'CONF'
[server]
use-ipv4=yes
use-ipv6=yes
enable-dbus=no
ratelimit-interval-usec=1000000
ratelimit-burst=1000
[wide-area]
enable-wide-area=no
[publish]
publish-workstation=no
CONF
avahi-daemon -f "$work/avahi.conf" --no-drop-root --no-chroot --no-rlimits --no-proc-title >"$ART/avahi.log" 2>&1 &
pids+=($!)
holds_5353() { ss -ulpn | grep -q ":5353 .*$1"; }
until_true 20 holds_5353 avahi || true
kill -0 "${pids[-1]}" || { echo "FAIL: avahi-daemon did not start"; cat "$ART/avahi.log"; exit 1; }
holds_5353 avahi && echo "avahi-daemon holds UDP 5353"

# The program in Multi View Capture mode with code 314159.
export HOME=$work XDG_CONFIG_HOME=$work/.config XDG_DATA_HOME=$work/.local/share
unset QT_QPA_PLATFORM
bash "$(dirname "$0")/own-display.sh" 1280x800x24 bash -c '
  source "$0"
  "$1" & app=$!
  echo $app >"$2"
  enter_mvc_master "$app" 314159 >/dev/null
  wait $app' "$(dirname "$0")/lib.sh" "$APP" "$work/app.pid" >"$ART/mdns-app.log" 2>&1 &
pids+=($!)
port=""
for ((i = 0; i < 100; i++)); do
  port=$(ss -ltnp | awk '/quintaray/ { n = split($4, a, ":"); print a[n]; exit }')
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "FAIL: the program is not listening"; exit 1; }
echo "the program listens on TCP port $port"
until_true 10 holds_5353 quintaray || echo "the program holds no UDP 5353 socket yet"
ss -ulpn | grep ':5353 ' | sed 's/^/  /'

fail=0
expect() { # expect FILE PATTERN WHAT
  if grep -qE "$2" "$1"; then echo "ok: $3"; else echo "FAIL: $3"; fail=1; fi
}
browse() { # browse NS ADDRESS NAME OUT
  in_ns "$1" python3 "$BROWSER" "$2" "$3" 3 >"$4"
  sed 's/^/  /' "$4"
}
echo "--- browsing over qr-b0 (10.77.0.2)"
browse "$B" 10.77.0.2 _quintaray-mvc._tcp.local "$ART/browse1.txt"
expect "$ART/browse1.txt" "^10.77.0.1 _quintaray-mvc._tcp.local 12 MVC-Server._quintaray-mvc._tcp.local$" "PTR to the instance"
expect "$ART/browse1.txt" "^10.77.0.1 MVC-Server._quintaray-mvc._tcp.local 33 $port " "SRV with the listener's port $port"
expect "$ART/browse1.txt" "^10.77.0.1 MVC-Server._quintaray-mvc._tcp.local 16 030104010509$" "TXT of the six code bytes"
expect "$ART/browse1.txt" " 1 10.77.0.1$" "A record of this side's address"
browse "$B" 10.77.0.2 _http._tcp.local "$ART/browse-avahi.txt"
expect "$ART/browse-avahi.txt" "_http._tcp.local 12 avahi-side._http._tcp.local$" "avahi-daemon still answers for its own service"

echo "--- legacy unicast queries to 10.77.0.1 from an on-link and an off-link source"
# 10.99.0.2 sits on the far side too, but on a subnet of its own: routed to 10.77.0.2 over qr-a0,
# so its packets arrive on the same interface as the on-link ones. A UDP echo in this namespace
# shows that they do and that replies find their way back.
in_ns "$B" ip addr add 10.99.0.2/32 dev qr-b0
ip route add 10.99.0.0/24 via 10.77.0.2 dev qr-a0
python3 -c '
import socket
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind(("10.77.0.1", 5400))
while True:
    p, a = s.recvfrom(64)
    s.sendto(p, a)' &
pids+=($!)
until_true 10 eval "ss -ulpn | grep -q '10.77.0.1:5400 '" || { echo "FAIL: the echo did not start"; fail=1; }
unicast() { # unicast SOURCE OUT
  in_ns "$B" python3 "$BROWSER" "$1" _quintaray-mvc._tcp.local 2 10.77.0.1 8 5400 >"$2"
  sed 's/^/  /' "$2"
}
unicast 10.77.0.2 "$ART/unicast-onlink.txt"
expect "$ART/unicast-onlink.txt" "^10.77.0.1 _quintaray-mvc._tcp.local 12 MVC-Server._quintaray-mvc._tcp.local$" "on-link unicast: PTR"
expect "$ART/unicast-onlink.txt" "^10.77.0.1 MVC-Server._quintaray-mvc._tcp.local 33 $port " "on-link unicast: SRV"
expect "$ART/unicast-onlink.txt" "^10.77.0.1 MVC-Server._quintaray-mvc._tcp.local 16 030104010509$" "on-link unicast: TXT"
n=$(grep -c " 16 030104010509$" "$ART/unicast-onlink.txt" || true)
[ "$n" = 8 ] && echo "ok: all 8 on-link sockets answered" || { echo "FAIL: $n of 8 on-link sockets answered"; fail=1; }
unicast 10.99.0.2 "$ART/unicast-offlink.txt"
n=$(grep -c "^10.77.0.1 echo$" "$ART/unicast-offlink.txt" || true)
[ "$n" = 8 ] && echo "ok: the off-link source's datagrams arrive and are answered (8 echoes)" ||
  { echo "FAIL: $n of 8 echoes to the off-link source"; fail=1; }
if grep -qv " echo$" "$ART/unicast-offlink.txt"; then echo "FAIL: the off-link source got an mDNS answer"; fail=1
else echo "ok: no mDNS answer to the off-link source"; fi
unicast 10.77.0.2 "$ART/unicast-onlink2.txt"
expect "$ART/unicast-onlink2.txt" "^10.77.0.1 MVC-Server._quintaray-mvc._tcp.local 16 030104010509$" "on-link unicast answered after the off-link one"

echo "--- an interface that comes up after start: qr-a1 (10.78.0.1) to a third namespace"
ip link add qr-a1 type veth peer name qr-c1 netns "$C"
ip addr add 10.78.0.1/24 dev qr-a1
ip link set qr-a1 up
in_ns "$C" ip link set lo up
in_ns "$C" ip addr add 10.78.0.2/24 dev qr-c1
in_ns "$C" ip link set qr-c1 up
# The program checks its interfaces every 3 seconds: browsed until it answers there, up to 20 s.
answers_on_c() {
  in_ns "$C" python3 "$BROWSER" 10.78.0.2 _quintaray-mvc._tcp.local 3 >"$ART/browse2.txt"
  grep -q "^10.78.0.1 MVC-Server._quintaray-mvc._tcp.local 16 " "$ART/browse2.txt"
}
until_true 20 answers_on_c || true
sed 's/^/  /' "$ART/browse2.txt"
expect "$ART/browse2.txt" "^10.78.0.1 MVC-Server._quintaray-mvc._tcp.local 16 030104010509$" "TXT over the new interface"
expect "$ART/browse2.txt" "^10.78.0.1 MVC-Server._quintaray-mvc._tcp.local 33 $port " "SRV over the new interface"
expect "$ART/browse2.txt" " 1 10.78.0.1$" "A record of the new interface's address"

[ $fail = 0 ] && echo PASS
exit $fail
