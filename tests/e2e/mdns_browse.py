#!/usr/bin/env python3
"""A minimal mDNS browser, independent of the program's code: sends one multicast PTR query from
port 5353 out of the interface that holds ADDRESS, listens for responses for a few seconds and
prints every record they carry, one per line:  SOURCE NAME TYPE DATA
(PTR and SRV targets expanded; SRV as "port target"; TXT and others as hex of the rdata).
   mdns_browse.py ADDRESS NAME [SECONDS]
With TARGET, it asks as a legacy unicast querier instead: the query goes from ADDRESS and an
ephemeral port to TARGET port 5353 (once from each of COUNT sockets), the answers come back to
those ports. With ECHO_PORT, each socket also sends a datagram to TARGET:ECHO_PORT and prints
"SOURCE echo" for every one echoed back: the route between ADDRESS and TARGET works both ways.
   mdns_browse.py ADDRESS NAME SECONDS TARGET [COUNT [ECHO_PORT]]"""
import select
import socket
import struct
import sys
import time

GROUP = "224.0.0.251"


def read_name(p, at):
    labels, jumped, end, guard = [], False, at, 0
    while guard < 128:
        guard += 1
        n = p[at]
        if n >= 0xC0:
            if not jumped:
                end = at + 2
            jumped = True
            at = ((n & 0x3F) << 8) | p[at + 1]
            continue
        if n == 0:
            if not jumped:
                end = at + 1
            return ".".join(labels), end
        labels.append(p[at + 1:at + 1 + n].decode("latin-1"))
        at += 1 + n
    raise ValueError("name loop")


def records(p):
    qd, an, ns, ar = struct.unpack("!4H", p[4:12])
    at = 12
    for _ in range(qd):
        _, at = read_name(p, at)
        at += 4
    for _ in range(an + ns + ar):
        name, at = read_name(p, at)
        rtype, _, _, rdlen = struct.unpack("!HHIH", p[at:at + 10])
        at += 10
        rdata = p[at:at + rdlen]
        if rtype == 12:
            data = read_name(p, at)[0]
        elif rtype == 33:
            data = "%d %s" % (struct.unpack("!H", rdata[4:6])[0], read_name(p, at + 6)[0])
        elif rtype == 1:
            data = socket.inet_ntoa(rdata)
        else:
            data = rdata.hex()
        at += rdlen
        yield name, rtype, data


def query(name, qid=0):
    q = struct.pack("!6H", qid, 0, 1, 0, 0, 0)
    for label in name.split("."):
        q += bytes([len(label)]) + label.encode()
    return q + b"\0" + struct.pack("!HH", 12, 1)


def show(p, src):
    if len(p) < 12 or not p[2] & 0x80:
        return  # a query, not a response
    try:
        for rname, rtype, data in records(p):
            print(src[0], rname, rtype, data, flush=True)
    except (ValueError, IndexError, struct.error):
        print(src[0], "malformed response", flush=True)


def unicast(address, name, seconds, target, count, echo_port):
    socks = []
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        s.bind((address, 0))
        s.setblocking(False)
        s.sendto(query(name, 0x5151), (target, 5353))
        if echo_port:
            s.sendto(b"echo", (target, echo_port))
        socks.append(s)
    end = time.time() + seconds
    while time.time() < end:
        ready, _, _ = select.select(socks, [], [], max(0.05, end - time.time()))
        for s in ready:
            p, src = s.recvfrom(9000)
            if src[1] == echo_port and p == b"echo":
                print(src[0], "echo", flush=True)
            elif src[1] == 5353:
                show(p, src)


def main():
    address, name = sys.argv[1], sys.argv[2]
    seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 3
    if len(sys.argv) > 4:
        count = int(sys.argv[5]) if len(sys.argv) > 5 else 1
        echo_port = int(sys.argv[6]) if len(sys.argv) > 6 else 0
        unicast(address, name, seconds, sys.argv[4], count, echo_port)
        return
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.bind(("0.0.0.0", 5353))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                 socket.inet_aton(GROUP) + socket.inet_aton(address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(address))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 255)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_LOOP, 0)
    # Asked again a little over a second later, as a querier does: a responder multicasts a record
    # at most once a second on a link, so a query that comes just after its announcement goes
    # unanswered, and only the next one is.
    start = time.time()
    end = start + seconds
    next_query = start
    while time.time() < end:
        if time.time() >= next_query:
            s.sendto(query(name), (GROUP, 5353))
            next_query += 1.1
        s.settimeout(max(0.05, min(end, next_query) - time.time()))
        try:
            p, src = s.recvfrom(9000)
        except socket.timeout:
            continue
        show(p, src)


main()
