#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

#include <cstdint>
#include <optional>

namespace qr {

// A DNS message as mDNS uses it: parsed defensively and written without name compression.
// A name is its list of labels ("_quintaray-mvc", "_tcp", "local"); names compare without regard to
// ASCII case.
class DnsMessage {
public:
    using Name = QList<QByteArray>;

    enum Type : std::uint16_t { A = 1, PTR = 12, TXT = 16, AAAA = 28, SRV = 33, NSEC = 47, ANY = 255 };
    static constexpr std::uint16_t kClassIn = 1;
    static constexpr std::uint16_t kTopBit = 0x8000; // unicast-response (questions), cache-flush (records)
    static constexpr std::uint16_t kFlagResponse = 0x8000;
    static constexpr std::uint16_t kFlagAuthoritative = 0x0400;
    static constexpr int kMaxNameLength = 255;
    static constexpr int kMaxLabelLength = 63;

    struct Question {
        Name name;
        std::uint16_t type = 0;
        std::uint16_t klass = kClassIn; // without the unicast-response bit
        bool unicastResponse = false;
    };

    struct Record {
        Name name;
        std::uint16_t type = 0;
        std::uint16_t klass = kClassIn; // without the cache-flush bit
        bool cacheFlush = false;
        std::uint32_t ttl = 0;
        QByteArray rdata; // as on the wire; names inside are expanded when parsed
    };

    std::uint16_t id = 0;
    std::uint16_t flags = 0;
    QList<Question> questions;
    QList<Record> answers;
    QList<Record> authorities;
    QList<Record> additionals;

    bool isResponse() const { return (flags & kFlagResponse) != 0; }

    // Nothing for a malformed packet: truncated header, question or record, a count larger than the
    // packet holds, a name longer than 255 bytes or with a label longer than 63, a compression
    // pointer that does not point strictly backwards (so no loops), bytes left over, or rdata of a
    // PTR or SRV record that is not a valid name.
    static std::optional<DnsMessage> parse(QByteArrayView packet);
    QByteArray serialize() const;

    static Name nameFromString(const QByteArray& dotted);
    static QByteArray nameToString(const Name& name);
    static bool sameName(const Name& a, const Name& b);
    // Rdata helpers for the records a service advertisement needs.
    static QByteArray encodeName(const Name& name);
    static QByteArray srvRdata(std::uint16_t priority, std::uint16_t weight, std::uint16_t port,
                               const Name& target);
    // Reads a name at `offset` of `packet` with compression; advances offset past the name as it
    // stands at that place. Nothing for a malformed name.
    static std::optional<Name> readName(QByteArrayView packet, qsizetype& offset);
};

} // namespace qr
