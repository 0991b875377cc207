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

// The mDNS packet parser and the responder's answer to whatever it accepts. No interfaces are
// given, so nothing is ever sent.
inline void mdnsPacket(const std::uint8_t* data, std::size_t size)
{
    static qr::MdnsResponder* responder = [] {
        auto* r = new qr::MdnsResponder;
        qr::MdnsResponder::Network n;
        n.useDefaultInterfaces = false; // no interfaces: answers only, nothing is ever sent
        r->setNetwork(n);
        qr::MdnsResponder::Service s;
        s.hostName = "fuzzhost.local";
        s.port = 40000;
        s.txt = QByteArray("\x01\x02\x03\x04\x05\x06", 6);
        r->setService(s);
        return r;
    }();
    const QByteArrayView packet(reinterpret_cast<const char*>(data), qsizetype(size));
    if (const auto m = qr::DnsMessage::parse(packet)) {
        // What was accepted writes out and reads back the same.
        const auto again = qr::DnsMessage::parse(m->serialize());
        if (!again || again->questions.size() != m->questions.size() ||
            again->answers.size() != m->answers.size())
            std::abort();
    }
    const QByteArray answer = responder->answerFor(packet, 5353, 0);
    if (!answer.isEmpty() && !qr::DnsMessage::parse(answer))
        std::abort();
    responder->answerFor(packet, 40000, 0);
    return;
}

} // namespace qr::fuzz
