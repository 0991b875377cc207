#include "platform/DnsMessage.h"

#include <QtEndian>

namespace qr {

namespace {

std::uint16_t rd16(QByteArrayView p, qsizetype at)
{
    return qFromBigEndian<std::uint16_t>(p.data() + at);
}

std::uint32_t rd32(QByteArrayView p, qsizetype at)
{
    return qFromBigEndian<std::uint32_t>(p.data() + at);
}

void put16(QByteArray& out, std::uint16_t v)
{
    out.append(char(v >> 8));
    out.append(char(v & 0xFF));
}

void put32(QByteArray& out, std::uint32_t v)
{
    put16(out, std::uint16_t(v >> 16));
    put16(out, std::uint16_t(v & 0xFFFF));
}

bool readQuestion(QByteArrayView p, qsizetype& at, DnsMessage::Question& q)
{
    auto name = DnsMessage::readName(p, at);
    if (!name || p.size() - at < 4)
        return false;
    q.name = *name;
    q.type = rd16(p, at);
    const std::uint16_t c = rd16(p, at + 2);
    q.unicastResponse = (c & DnsMessage::kTopBit) != 0;
    q.klass = c & ~DnsMessage::kTopBit;
    at += 4;
    return true;
}

bool readRecord(QByteArrayView p, qsizetype& at, DnsMessage::Record& r)
{
    // A record opens as a question does: name, type, and a class whose top bit is a flag (here
    // cache-flush); TTL and data length follow.
    DnsMessage::Question head;
    if (!readQuestion(p, at, head) || p.size() - at < 6)
        return false;
    r.name = head.name;
    r.type = head.type;
    r.klass = head.klass;
    r.cacheFlush = head.unicastResponse;
    r.ttl = rd32(p, at);
    const qsizetype len = rd16(p, at + 4);
    at += 6;
    if (p.size() - at < len)
        return false;
    const qsizetype end = at + len;
    if (r.type == DnsMessage::PTR) {
        qsizetype o = at;
        auto target = DnsMessage::readName(p, o);
        if (!target || o != end)
            return false;
        r.rdata = DnsMessage::encodeName(*target);
    } else if (r.type == DnsMessage::SRV) {
        if (len < 7)
            return false;
        qsizetype o = at + 6;
        auto target = DnsMessage::readName(p, o);
        if (!target || o != end)
            return false;
        r.rdata = p.sliced(at, 6).toByteArray() + DnsMessage::encodeName(*target);
    } else {
        r.rdata = p.sliced(at, len).toByteArray();
    }
    at = end;
    return true;
}

} // namespace

std::optional<DnsMessage::Name> DnsMessage::readName(QByteArrayView p, qsizetype& offset)
{
    Name name;
    int total = 0; // wire length of the expanded name
    qsizetype at = offset;
    qsizetype limit = offset; // a pointer must point strictly before the place it jumps from
    bool jumped = false;
    for (;;) {
        if (at >= p.size())
            return std::nullopt;
        const std::uint8_t len = std::uint8_t(p[at]);
        if ((len & 0xC0) == 0xC0) {
            if (at + 1 >= p.size())
                return std::nullopt;
            const qsizetype target = ((len & 0x3F) << 8) | std::uint8_t(p[at + 1]);
            if (!jumped)
                offset = at + 2;
            if (target >= limit)
                return std::nullopt;
            jumped = true;
            limit = target;
            at = target;
            continue;
        }
        if ((len & 0xC0) != 0)
            return std::nullopt; // reserved label types
        if (len == 0) {
            if (!jumped)
                offset = at + 1;
            if (total + 1 > kMaxNameLength)
                return std::nullopt;
            return name;
        }
        if (at + 1 + len > p.size())
            return std::nullopt;
        total += len + 1;
        if (total + 1 > kMaxNameLength)
            return std::nullopt;
        name.append(p.sliced(at + 1, len).toByteArray());
        at += 1 + len;
    }
}

std::optional<DnsMessage> DnsMessage::parse(QByteArrayView p)
{
    if (p.size() < 12)
        return std::nullopt;
    DnsMessage m;
    m.id = rd16(p, 0);
    m.flags = rd16(p, 2);
    const int counts[4] = {rd16(p, 4), rd16(p, 6), rd16(p, 8), rd16(p, 10)};
    // Every question takes at least 5 bytes and every record 11: counts the packet cannot hold are
    // rejected before anything is allocated for them.
    const qsizetype least = qsizetype(counts[0]) * 5 + qsizetype(counts[1] + counts[2] + counts[3]) * 11;
    if (least > p.size() - 12)
        return std::nullopt;
    qsizetype at = 12;
    for (int i = 0; i < counts[0]; ++i) {
        Question q;
        if (!readQuestion(p, at, q))
            return std::nullopt;
        m.questions.append(q);
    }
    QList<Record>* sections[3] = {&m.answers, &m.authorities, &m.additionals};
    for (int s = 0; s < 3; ++s) {
        for (int i = 0; i < counts[s + 1]; ++i) {
            Record r;
            if (!readRecord(p, at, r))
                return std::nullopt;
            sections[s]->append(r);
        }
    }
    if (at != p.size())
        return std::nullopt;
    return m;
}

QByteArray DnsMessage::encodeName(const Name& name)
{
    QByteArray out;
    for (const QByteArray& label : name) {
        const qsizetype len = std::min<qsizetype>(label.size(), kMaxLabelLength);
        out.append(char(len));
        out.append(label.first(len));
    }
    out.append('\0');
    return out;
}

QByteArray DnsMessage::srvRdata(std::uint16_t priority, std::uint16_t weight, std::uint16_t port,
                                const Name& target)
{
    QByteArray out;
    put16(out, priority);
    put16(out, weight);
    put16(out, port);
    out.append(encodeName(target));
    return out;
}

QByteArray DnsMessage::serialize() const
{
    QByteArray out;
    put16(out, id);
    put16(out, flags);
    put16(out, std::uint16_t(questions.size()));
    put16(out, std::uint16_t(answers.size()));
    put16(out, std::uint16_t(authorities.size()));
    put16(out, std::uint16_t(additionals.size()));
    for (const Question& q : questions) {
        out.append(encodeName(q.name));
        put16(out, q.type);
        put16(out, std::uint16_t(q.klass | (q.unicastResponse ? kTopBit : 0)));
    }
    for (const QList<Record>* section : {&answers, &authorities, &additionals}) {
        for (const Record& r : *section) {
            out.append(encodeName(r.name));
            put16(out, r.type);
            put16(out, std::uint16_t(r.klass | (r.cacheFlush ? kTopBit : 0)));
            put32(out, r.ttl);
            put16(out, std::uint16_t(r.rdata.size()));
            out.append(r.rdata);
        }
    }
    return out;
}

DnsMessage::Name DnsMessage::nameFromString(const QByteArray& dotted)
{
    Name name;
    for (const QByteArray& label : dotted.split('.')) {
        if (!label.isEmpty())
            name.append(label);
    }
    return name;
}

QByteArray DnsMessage::nameToString(const Name& name)
{
    return name.join('.');
}

bool DnsMessage::sameName(const Name& a, const Name& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].compare(b[i], Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

} // namespace qr
