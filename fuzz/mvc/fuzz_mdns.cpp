// The mDNS packet parser and the responder's answer to whatever it accepts.

#include "platform/DnsMessage.h"
#include "platform/MdnsResponder.h"

#include <QCoreApplication>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
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
    return 0;
}
