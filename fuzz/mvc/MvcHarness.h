#pragma once

// The bodies of the capture master's fuzz targets, shared with the test that replays their corpus
// in every ordinary build. Each aborts when a promise of the code under test breaks.

#include "mvc/MvcFrameDecoder.h"
#include "mvc/MvcMessageAssembler.h"
#include "platform/DnsMessage.h"
#include "platform/MdnsResponder.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <vector>

namespace qr::fuzz {

// Message reassembly and header parsing: the bytes after the first are cut into chunks whose sizes
// come from the first byte's seed; every complete small frame is also decoded.
inline void mvcFraming(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return;
    std::uint32_t seed = data[0] * 2654435761U + 1;
    ++data;
    --size;
    constexpr std::uint32_t kMaxPayload = 1 << 16;
    qr::MvcMessageAssembler assembler(kMaxPayload);
    qr::MvcFrameDecoder decoder;
    std::size_t at = 0;
    while (at < size) {
        seed = seed * 1103515245U + 12345U;
        const std::size_t n = std::min<std::size_t>(size - at, 1 + (seed >> 16) % 97);
        assembler.append(QByteArrayView(reinterpret_cast<const char*>(data + at), qsizetype(n)));
        at += n;
        qr::MvcMessageAssembler::Message m;
        for (;;) {
            const auto r = assembler.next(m);
            if (r != qr::MvcMessageAssembler::Result::Message)
                break;
            if (m.header.isCloseRequest()) {
                assembler.reset();
                continue;
            }
            if (qsizetype(m.header.mvcLen) != m.payload.size())
                std::abort();
            if (std::uint32_t(m.header.width) * m.header.height <= 64 * 64)
                decoder.decode(m.header, m.payload);
        }
        // What is held never exceeds one payload and the latest chunk.
        if (assembler.bufferedBytes() > qsizetype(kMaxPayload) + qsizetype(n) + 16)
            std::abort();
    }
    return;
}

namespace detail {

inline void require(bool ok)
{
    if (!ok)
        std::abort();
}

// The properties every reply of the responder keeps: it parses, stays within its size bound, and
// repeats no more questions than it answers.
inline void checkReply(const QByteArray& packet, bool unicast)
{
    const auto m = qr::DnsMessage::parse(packet);
    require(m.has_value());
    require(packet.size() <=
            (unicast ? qr::MdnsResponder::kMaxUnicastBytes : qr::MdnsResponder::kMaxMulticastBytes));
    require(!m->answers.isEmpty());
    require(m->questions.size() <= m->answers.size());
    require(unicast || m->questions.isEmpty());
}

inline QByteArray recordKey(const qr::DnsMessage::Record& r)
{
    return qr::DnsMessage::encodeName(r.name).toLower() + QByteArray::number(r.type) + '/' + r.rdata;
}

} // namespace detail

// The mDNS packet parser and the responder's answers. The whole input is first one packet; then it
// is read again as a run of packets, each behind two bytes: where it comes from (an on-link or an
// off-link address, the mDNS port or another, to the group or to this host, and how much time
// passed) and its length. Every reply must go only where the rules allow, within its size, and no
// record may be sent again sooner than they allow. No socket is opened: nothing is ever sent.
inline void mdnsPacket(const std::uint8_t* data, std::size_t size)
{
    using qr::MdnsResponder;
    static const QList<QNetworkInterface> loopback = [] {
        QList<QNetworkInterface> out;
        for (const auto& i : QNetworkInterface::allInterfaces()) {
            if (i.flags().testFlag(QNetworkInterface::IsLoopBack))
                out.append(i);
        }
        return out;
    }();
    const int loIndex = loopback.isEmpty() ? 0 : loopback.first().index();
    std::int64_t nowNs = 10'000'000'000;
    MdnsResponder responder;
    MdnsResponder::Network n;
    n.listInterfaces = [] {
        return loopback;
    };
    responder.setNetwork(n);
    responder.setClock([&nowNs] { return nowNs; });
    MdnsResponder::Service s;
    s.hostName = "fuzzhost.local";
    s.port = 40000;
    s.txt = QByteArray("\x01\x02\x03\x04\x05\x06", 6);
    responder.setService(s);
    responder.refreshInterfaces(); // not started: the interfaces are known, no socket is opened

    const QByteArrayView whole(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto m = qr::DnsMessage::parse(whole)) {
        // What was accepted writes out and reads back the same.
        const auto again = qr::DnsMessage::parse(m->serialize());
        detail::require(again && again->questions.size() == m->questions.size() &&
                        again->answers.size() == m->answers.size());
    }
    for (std::uint16_t port : {std::uint16_t(5353), std::uint16_t(40000)}) {
        const QByteArray answer = responder.answerFor(whole, port, loIndex);
        if (!answer.isEmpty())
            detail::checkReply(answer, port != 5353);
    }
    // Off-link, a legacy query is never answered.
    detail::require(
        responder
            .answerFor(whole, MdnsResponder::Origin{QHostAddress(QStringLiteral("203.0.113.7")), 40000,
                                                    QHostAddress(QStringLiteral("224.0.0.251")), loIndex})
            .isEmpty());

    static const char* const kSources[8] = {"127.0.0.1",   "127.0.0.2", "::1",         "127.3.4.5",
                                            "203.0.113.7", "192.0.2.1", "2001:db8::1", "fe80::1"};
    constexpr int kOnLinkSources = 4; // the loopback ones
    constexpr std::int64_t kAdvanceNs[4] = {0, 100'000'000, 250'000'000, 1'000'000'000};
    std::map<std::pair<QString, QByteArray>, std::int64_t> unicastAt; // "address port", record
    std::map<QString, std::vector<std::int64_t>> repliesTo;           // address: reply times
    std::map<QByteArray, std::int64_t> multicastAt;
    std::size_t at = 0;
    while (at + 2 <= size) {
        const std::uint8_t how = data[at];
        const std::size_t len = std::min<std::size_t>(data[at + 1] + (how & 1U) * 256U, size - at - 2);
        const QByteArrayView packet(reinterpret_cast<const char*>(data + at + 2), qsizetype(len));
        at += 2 + len;
        nowNs += kAdvanceNs[(how >> 1) & 3U];
        const int source = (how >> 3) & 7;
        MdnsResponder::Origin o;
        o.sender = QHostAddress(QString::fromLatin1(kSources[source]));
        o.senderPort = (how & 0x40) ? std::uint16_t(40000 + (how & 7)) : std::uint16_t(5353);
        o.destination =
            QHostAddress((how & 0x80) ? QStringLiteral("127.0.0.1") : QStringLiteral("224.0.0.251"));
        o.interfaceIndex = loIndex;
        const auto reply = responder.respond(packet, o);
        if (!reply)
            continue;
        detail::checkReply(reply->packet, !reply->multicast);
        const auto m = qr::DnsMessage::parse(reply->packet);
        if (reply->multicast) {
            // Only to the group, for a query from the mDNS port; a query sent to this host only from
            // the link.
            detail::require(o.senderPort == 5353 && (o.destination.isMulticast() || source < kOnLinkSources));
            const auto query = qr::DnsMessage::parse(packet);
            const std::int64_t interval = query && !query->authorities.isEmpty()
                                              ? MdnsResponder::kProbeDefenceIntervalNs
                                              : MdnsResponder::kRecordIntervalNs;
            for (const auto& r : m->answers + m->additionals) {
                const QByteArray key = detail::recordKey(r) +
                                       (o.sender.protocol() == QAbstractSocket::IPv6Protocol ? "/6" : "/4");
                const auto last = multicastAt.find(key);
                detail::require(last == multicastAt.end() || nowNs - last->second >= interval);
                multicastAt[key] = nowNs;
            }
            continue;
        }
        // Unicast: a legacy query from the link, answered to its own address and port.
        detail::require(o.senderPort != 5353 && source < kOnLinkSources);
        detail::require(reply->to.isEqual(o.sender, QHostAddress::TolerantConversion) &&
                        reply->port == o.senderPort);
        const QString dest = reply->to.toString() + QLatin1Char(' ') + QString::number(reply->port);
        for (const auto& r : m->answers) {
            const auto key = std::make_pair(dest, detail::recordKey(r));
            const auto last = unicastAt.find(key);
            detail::require(last == unicastAt.end() ||
                            nowNs - last->second >= MdnsResponder::kRecordIntervalNs);
            unicastAt[key] = nowNs;
        }
        // However the windows fall, one address gets at most twice the per-second count in any second.
        auto& times = repliesTo[reply->to.toString()];
        times.push_back(nowNs);
        std::erase_if(times, [&](std::int64_t t) { return nowNs - t >= MdnsResponder::kRecordIntervalNs; });
        detail::require(times.size() <= std::size_t(2 * MdnsResponder::kUnicastRepliesPerAddress));
    }
}

} // namespace qr::fuzz
