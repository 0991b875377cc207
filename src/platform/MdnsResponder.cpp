#include "platform/MdnsResponder.h"

#include "platform/LogCategories.h"

#include <QNetworkDatagram>
#include <QSysInfo>
#include <QUdpSocket>
#include <QVariant>

#include <algorithm>
#include <chrono>

namespace qr {

namespace {

const QHostAddress kGroupV4(QStringLiteral("224.0.0.251"));
const QHostAddress kGroupV6(QStringLiteral("ff02::fb"));
constexpr std::uint32_t kTtlHost = 120;     // SRV, A, AAAA
constexpr std::uint32_t kTtlService = 4500; // PTR, TXT
constexpr std::uint32_t kTtlLegacyMax = 10;
constexpr int kMaxDatagram = 9000;
constexpr int kAnnounceIntervalMs = 1000;
constexpr int kAnnouncements = 2;

DnsMessage::Record record(const DnsMessage::Name& name, std::uint16_t type, std::uint32_t ttl,
                          QByteArray rdata, bool unique)
{
    DnsMessage::Record r;
    r.name = name;
    r.type = type;
    r.ttl = ttl;
    r.rdata = std::move(rdata);
    r.cacheFlush = unique;
    return r;
}

bool sameRecord(const DnsMessage::Record& a, const DnsMessage::Record& b)
{
    return a.type == b.type && a.rdata == b.rdata && DnsMessage::sameName(a.name, b.name);
}

void addUnique(QList<DnsMessage::Record>& list, const DnsMessage::Record& r)
{
    for (const auto& have : list) {
        if (sameRecord(have, r))
            return;
    }
    list.append(r);
}

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

struct MdnsResponder::Socket {
    std::unique_ptr<QUdpSocket> udp;
    bool v6 = false;
};

MdnsResponder::MdnsResponder(QObject* parent) : QObject(parent), m_clock(steadyNs)
{
    m_announceTimer.setSingleShot(true);
    connect(&m_announceTimer, &QTimer::timeout, this, [this] { announce(1); });
    connect(&m_rescanTimer, &QTimer::timeout, this, &MdnsResponder::refreshInterfaces);
}

MdnsResponder::~MdnsResponder()
{
    stop();
}

QByteArray MdnsResponder::defaultHostName()
{
    QByteArray host = QSysInfo::machineHostName().toUtf8();
    host = host.left(host.indexOf('.') < 0 ? host.size() : host.indexOf('.'));
    QByteArray clean;
    for (char c : host) {
        const bool ok =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-';
        clean.append(ok ? c : '-');
    }
    if (clean.isEmpty())
        clean = "quintaray";
    return clean.left(DnsMessage::kMaxLabelLength) + ".local";
}

QList<QNetworkInterface> MdnsResponder::listInterfaces() const
{
    if (m_network.listInterfaces)
        return m_network.listInterfaces();
    if (!m_network.useDefaultInterfaces)
        return m_network.interfaces;
    QList<QNetworkInterface> out;
    const auto all = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface& i : all) {
        const auto f = i.flags();
        if (f.testFlag(QNetworkInterface::IsUp) && f.testFlag(QNetworkInterface::IsRunning) &&
            f.testFlag(QNetworkInterface::CanMulticast) && !f.testFlag(QNetworkInterface::IsLoopBack))
            out.append(i);
    }
    return out;
}

const QNetworkInterface* MdnsResponder::interfaceByIndex(int index) const
{
    for (const QNetworkInterface& i : m_interfaces) {
        if (i.index() == index)
            return &i;
    }
    return nullptr;
}

void MdnsResponder::refreshInterfaces()
{
    m_sinceRescan.start();
    const QList<QNetworkInterface> now = listInterfaces();
    QList<QNetworkInterface> fresh;
    for (const QNetworkInterface& i : now) {
        const QNetworkInterface* before = interfaceByIndex(i.index());
        if (!before || before->name() != i.name() || before->flags() != i.flags() ||
            before->addressEntries() != i.addressEntries())
            fresh.append(i);
    }
    m_interfaces = now;
    if (!m_running)
        return;
    for (const QNetworkInterface& i : fresh) {
        qCDebug(lcMvc).noquote() << "mDNS on interface" << i.name();
        join(i);
        announceOn(i, 1);
    }
}

void MdnsResponder::join(const QNetworkInterface& i)
{
    // Joining a group this socket already holds on the interface fails harmlessly.
    for (const auto& s : m_sockets)
        s->udp->joinMulticastGroup(s->v6 ? kGroupV6 : kGroupV4, i);
}

bool MdnsResponder::isOnLink(const QHostAddress& sender, const QList<QNetworkAddressEntry>& entries)
{
    QHostAddress from = sender;
    bool mapped = false;
    const quint32 v4 = sender.toIPv4Address(&mapped);
    if (mapped)
        from = QHostAddress(v4);
    if (from.isLoopback())
        return true;
    for (const QNetworkAddressEntry& e : entries) {
        if (e.ip().protocol() != from.protocol() || e.prefixLength() < 0)
            continue;
        if (from.isInSubnet(e.ip(), e.prefixLength()))
            return true;
    }
    return false;
}

void MdnsResponder::setService(const Service& service)
{
    m_service = service;
    if (m_service.hostName.isEmpty())
        m_service.hostName = defaultHostName();
}

bool MdnsResponder::start(const Service& service)
{
    stop();
    setService(service);
    m_interfaces.clear();
    for (bool v6 : {false, true}) {
        if (v6 && !m_network.ipv6)
            continue;
        auto s = std::make_unique<Socket>();
        s->v6 = v6;
        s->udp = std::make_unique<QUdpSocket>();
        if (!s->udp->bind(v6 ? QHostAddress(QHostAddress::AnyIPv6) : QHostAddress(QHostAddress::AnyIPv4),
                          m_network.port, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint))
            continue;
        s->udp->setSocketOption(QAbstractSocket::MulticastTtlOption, 255);
        s->udp->setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);
        Socket* raw = s.get();
        connect(s->udp.get(), &QUdpSocket::readyRead, this, [this, raw] { readPending(*raw); });
        m_sockets.push_back(std::move(s));
    }
    if (m_sockets.empty())
        return false;
    m_running = true;
    m_announcements = 0;
    m_interfaces = listInterfaces();
    m_sinceRescan.start();
    for (const QNetworkInterface& i : m_interfaces)
        join(i);
    if (m_network.rescanIntervalMs > 0)
        m_rescanTimer.start(m_network.rescanIntervalMs);
    // The TXT data is a secret code: only its length is reported.
    qCDebug(lcMvc).noquote() << "advertising"
                             << m_service.instance + '.' + m_service.type + '.' + m_service.domain << "on"
                             << m_service.hostName << "port" << m_service.port << "with"
                             << m_service.txt.size() << "TXT bytes";
    announce(1);
    Q_EMIT advertised(QString::fromUtf8(m_service.instance), QString::fromUtf8(m_service.type),
                      QString::fromUtf8(m_service.domain) + QLatin1Char('.'));
    return true;
}

void MdnsResponder::stop()
{
    m_announceTimer.stop();
    m_rescanTimer.stop();
    if (m_running)
        announce(0);
    m_running = false;
    m_sockets.clear();
}

QList<DnsMessage::Record> MdnsResponder::Records::all() const
{
    return QList<DnsMessage::Record>{servicesPtr, servicePtr, srv, txt} + a + aaaa;
}

MdnsResponder::Records MdnsResponder::records(int interfaceIndex, std::uint32_t ttlScale, bool legacy) const
{
    const QByteArray domain = m_service.domain;
    const auto typeName = DnsMessage::nameFromString(m_service.type + '.' + domain);
    auto instanceName = typeName;
    instanceName.prepend(m_service.instance);
    const auto host = DnsMessage::nameFromString(m_service.hostName);
    const auto services = DnsMessage::nameFromString("_services._dns-sd._udp." + domain);
    const bool flush = !legacy;
    const std::uint32_t ttlService = std::min(kTtlService * ttlScale, legacy ? kTtlLegacyMax : kTtlService);
    const std::uint32_t ttlHost = std::min(kTtlHost * ttlScale, legacy ? kTtlLegacyMax : kTtlHost);
    Records out;
    out.servicesPtr = record(services, DnsMessage::PTR, ttlService, DnsMessage::encodeName(typeName), false);
    out.servicePtr =
        record(typeName, DnsMessage::PTR, ttlService, DnsMessage::encodeName(instanceName), false);
    out.srv = record(instanceName, DnsMessage::SRV, ttlHost, DnsMessage::srvRdata(0, 0, m_service.port, host),
                     flush);
    out.txt = record(instanceName, DnsMessage::TXT, ttlService, m_service.txt, flush);
    // Addresses of the interface the query came on; all of ours when that is not one of them.
    QList<QNetworkInterface> chosen;
    if (const QNetworkInterface* i = interfaceByIndex(interfaceIndex))
        chosen.append(*i);
    else
        chosen = m_interfaces;
    for (const auto& i : chosen) {
        for (const auto& e : i.addressEntries()) {
            const QHostAddress addr = e.ip();
            if (addr.protocol() == QAbstractSocket::IPv4Protocol) {
                const quint32 v = addr.toIPv4Address();
                QByteArray rd;
                for (int shift = 24; shift >= 0; shift -= 8)
                    rd.append(char((v >> shift) & 0xFF));
                addUnique(out.a, record(host, DnsMessage::A, ttlHost, rd, flush));
            } else if (addr.protocol() == QAbstractSocket::IPv6Protocol) {
                const Q_IPV6ADDR v = addr.toIPv6Address();
                addUnique(out.aaaa, record(host, DnsMessage::AAAA, ttlHost,
                                           QByteArray(reinterpret_cast<const char*>(v.c), 16), flush));
            }
        }
    }
    return out;
}

QByteArray MdnsResponder::answerFor(QByteArrayView packet, const Origin& origin) const
{
    const auto query = DnsMessage::parse(packet);
    const auto answer = query ? answerTo(*query, origin) : std::nullopt;
    if (!answer)
        return {};
    return build(*answer, query->id, answer->legacy ? kMaxUnicastBytes : kMaxMulticastBytes).packet;
}

QByteArray MdnsResponder::answerFor(QByteArrayView packet, std::uint16_t senderPort, int interfaceIndex) const
{
    return answerFor(packet,
                     Origin{QHostAddress(QHostAddress::LocalHost), senderPort, kGroupV4, interfaceIndex});
}

bool MdnsResponder::sourceOnLink(const Origin& origin) const
{
    bool mapped = false;
    const quint32 v4 = origin.sender.toIPv4Address(&mapped);
    const QHostAddress from = mapped ? QHostAddress(v4) : origin.sender;
    if (from.isLoopback())
        return true;
    for (const QNetworkInterface& i : m_interfaces) {
        const auto entries = i.addressEntries();
        for (const auto& e : entries) {
            if (e.ip().isEqual(from, QHostAddress::TolerantConversion))
                return true;
        }
        if (i.index() == origin.interfaceIndex && isOnLink(from, entries))
            return true;
    }
    return false;
}

std::optional<MdnsResponder::Answer> MdnsResponder::answerTo(const DnsMessage& query,
                                                             const Origin& origin) const
{
    if (query.isResponse() || (query.flags & 0x7800) != 0)
        return std::nullopt;
    // A reply by unicast goes to the source address, which anyone can forge; and a query sent to a
    // unicast address may come from anywhere routing reaches. Both are answered only on the link.
    const bool legacy = origin.senderPort != m_network.port;
    if ((legacy || !origin.destination.isMulticast()) && !sourceOnLink(origin))
        return std::nullopt;
    const Records rec = records(origin.interfaceIndex, 1, legacy);
    const auto& servicesPtr = rec.servicesPtr;
    const auto& servicePtr = rec.servicePtr;
    const auto& srv = rec.srv;
    const auto& txt = rec.txt;
    const auto& a = rec.a;
    const auto& aaaa = rec.aaaa;
    const auto hostName = DnsMessage::nameFromString(m_service.hostName);

    Answer out;
    out.legacy = legacy;
    QList<DnsMessage::Record> extra;
    auto wants = [](const DnsMessage::Question& q, std::uint16_t type) {
        return q.type == type || q.type == DnsMessage::ANY;
    };
    for (const auto& q : query.questions) {
        if (q.klass != DnsMessage::kClassIn && q.klass != DnsMessage::ANY)
            continue;
        // Only what this question adds counts as its answer: a question asked twice, in any case,
        // answers nothing the second time.
        const int asker = int(out.questions.size());
        const qsizetype before = out.answers.size();
        auto answer = [&](const DnsMessage::Record& r) {
            const qsizetype n = out.answers.size();
            addUnique(out.answers, r);
            if (out.answers.size() > n)
                out.askedBy.append(asker);
        };
        if (DnsMessage::sameName(q.name, servicesPtr.name) && wants(q, DnsMessage::PTR))
            answer(servicesPtr);
        if (DnsMessage::sameName(q.name, servicePtr.name) && wants(q, DnsMessage::PTR)) {
            answer(servicePtr);
            addUnique(extra, srv);
            for (const auto& r : a + aaaa)
                addUnique(extra, r);
            // Last: a standard resolver may fail to read raw TXT data after which it reads nothing.
            addUnique(extra, txt);
        }
        if (DnsMessage::sameName(q.name, srv.name)) {
            if (wants(q, DnsMessage::SRV)) {
                answer(srv);
                for (const auto& r : a + aaaa)
                    addUnique(extra, r);
            }
            if (wants(q, DnsMessage::TXT))
                answer(txt);
        }
        if (DnsMessage::sameName(q.name, hostName)) {
            if (wants(q, DnsMessage::A)) {
                for (const auto& r : a)
                    answer(r);
            }
            if (wants(q, DnsMessage::AAAA)) {
                for (const auto& r : aaaa)
                    answer(r);
            }
        }
        if (out.answers.size() > before) {
            DnsMessage::Question echo = q;
            echo.unicastResponse = false;
            out.questions.append(echo);
        }
    }
    // Known-answer suppression: leave out what the asker already holds with at least half our TTL.
    for (qsizetype i = out.answers.size() - 1; i >= 0; --i) {
        bool known = false;
        for (const auto& k : query.answers)
            known = known || (sameRecord(k, out.answers[i]) && k.ttl >= out.answers[i].ttl / 2);
        if (known) {
            out.answers.removeAt(i);
            out.askedBy.removeAt(i);
        }
    }
    if (out.answers.isEmpty())
        return std::nullopt;
    for (const auto& r : extra) {
        bool dup = false;
        for (const auto& k : out.answers)
            dup = dup || sameRecord(k, r);
        if (!dup)
            out.additionals.append(r);
    }
    return out;
}

MdnsResponder::Built MdnsResponder::build(const Answer& answer, std::uint16_t id, int maxBytes)
{
    // Names are written uncompressed, so every part's size is known before it is written.
    auto questionSize = [](const DnsMessage::Question& q) {
        return int(DnsMessage::encodeName(q.name).size()) + 4;
    };
    auto recordSize = [](const DnsMessage::Record& r) {
        return int(DnsMessage::encodeName(r.name).size()) + 10 + int(r.rdata.size());
    };
    DnsMessage m;
    m.flags = DnsMessage::kFlagResponse | DnsMessage::kFlagAuthoritative;
    int size = 12;
    // Answers in order while they fit, with the question that asked for each (legacy only).
    QList<int> echoed;
    for (qsizetype i = 0; i < answer.answers.size(); ++i) {
        const int asker = answer.askedBy.value(i, -1);
        const bool newQuestion = answer.legacy && asker >= 0 && !echoed.contains(asker);
        const int cost =
            recordSize(answer.answers[i]) + (newQuestion ? questionSize(answer.questions[asker]) : 0);
        if (size + cost > maxBytes) {
            m.flags |= 0x0200; // truncated
            break;
        }
        size += cost;
        if (newQuestion)
            echoed.append(asker);
        m.answers.append(answer.answers[i]);
    }
    if (answer.legacy) {
        m.id = id;
        std::sort(echoed.begin(), echoed.end());
        for (int q : echoed)
            m.questions.append(answer.questions[q]);
    }
    // Additional records as room allows: the service's own before the host's addresses.
    const auto isAddress = [](const DnsMessage::Record& r) {
        return r.type == DnsMessage::A || r.type == DnsMessage::AAAA;
    };
    QList<bool> take(answer.additionals.size(), false);
    for (bool addresses : {false, true}) {
        for (qsizetype i = 0; i < answer.additionals.size(); ++i) {
            const auto& r = answer.additionals[i];
            if (isAddress(r) != addresses || size + recordSize(r) > maxBytes)
                continue;
            size += recordSize(r);
            take[i] = true;
        }
    }
    for (qsizetype i = 0; i < answer.additionals.size(); ++i) {
        if (take[i])
            m.additionals.append(answer.additionals[i]);
    }
    Built out;
    if (m.answers.isEmpty())
        return out;
    out.packet = m.serialize();
    out.answers = m.answers;
    out.additionals = m.additionals;
    return out;
}

QByteArray MdnsResponder::recordKey(const DnsMessage::Record& r)
{
    QByteArray key = DnsMessage::encodeName(r.name).toLower();
    key.append(char(r.type >> 8)).append(char(r.type & 0xFF));
    key.append(r.rdata);
    return key;
}

void MdnsResponder::noteMulticast(int interfaceIndex, bool v6, const QList<DnsMessage::Record>& sent,
                                  std::int64_t nowNs)
{
    for (const auto& r : sent)
        m_multicastAt[{interfaceIndex * 2 + (v6 ? 1 : 0), recordKey(r)}] = nowNs;
}

std::optional<MdnsResponder::Reply> MdnsResponder::respond(QByteArrayView packet, const Origin& origin)
{
    const auto query = DnsMessage::parse(packet);
    if (!query) {
        qCDebug(lcMvc).noquote() << "mDNS packet of" << packet.size() << "bytes from"
                                 << origin.sender.toString() << "dropped: malformed";
        return std::nullopt;
    }
    auto answer = answerTo(*query, origin);
    if (!answer)
        return std::nullopt;
    const std::int64_t t = now();
    Reply reply;
    if (!answer->legacy) {
        // A query with proposed records in its authority section is a probe: its answer defends
        // our names and may come sooner.
        // The answer goes out over the query's own address family: IPv4 and IPv6 count apart.
        const bool v6 = origin.sender.protocol() == QAbstractSocket::IPv6Protocol;
        const std::int64_t interval =
            query->authorities.isEmpty() ? kRecordIntervalNs : kProbeDefenceIntervalNs;
        auto recent = [&](const DnsMessage::Record& r) {
            const auto at = m_multicastAt.find({origin.interfaceIndex * 2 + (v6 ? 1 : 0), recordKey(r)});
            return at != m_multicastAt.end() && t - at->second < interval;
        };
        for (qsizetype i = answer->answers.size() - 1; i >= 0; --i) {
            if (recent(answer->answers[i])) {
                answer->answers.removeAt(i);
                answer->askedBy.removeAt(i);
            }
        }
        answer->additionals.removeIf(recent);
        const Built built = build(*answer, query->id, kMaxMulticastBytes);
        if (built.packet.isEmpty())
            return std::nullopt;
        noteMulticast(origin.interfaceIndex, v6, built.answers + built.additionals, t);
        reply.packet = built.packet;
        reply.multicast = true;
        reply.answers = int(built.answers.size());
        return reply;
    }
    bool mapped = false;
    const quint32 v4 = origin.sender.toIPv4Address(&mapped);
    QHostAddress to = mapped ? QHostAddress(v4) : origin.sender;
    QHostAddress plain = to;
    plain.setScopeId(QString());
    const QString key = plain.toString();
    // Forget what is a second old; beyond the table's bound, new addresses wait for room.
    for (auto it = m_peers.begin(); it != m_peers.end();) {
        Peer& p = it->second;
        std::erase_if(p.sent, [t](const auto& e) { return t - e.second >= kRecordIntervalNs; });
        if (t - p.windowStartNs >= kRecordIntervalNs)
            p.replies = 0;
        it = p.sent.empty() && p.replies == 0 ? m_peers.erase(it) : std::next(it);
    }
    if (!m_peers.count(key) && m_peers.size() >= std::size_t(kMaxUnicastPeers))
        return std::nullopt;
    Peer& peer = m_peers[key];
    if (peer.replies == 0)
        peer.windowStartNs = t;
    if (peer.replies >= kUnicastRepliesPerAddress)
        return std::nullopt;
    for (qsizetype i = answer->answers.size() - 1; i >= 0; --i) {
        if (peer.sent.count({origin.senderPort, recordKey(answer->answers[i])})) {
            answer->answers.removeAt(i);
            answer->askedBy.removeAt(i);
        }
    }
    const Built built = build(*answer, query->id, kMaxUnicastBytes);
    if (built.packet.isEmpty()) {
        if (peer.replies == 0 && peer.sent.empty())
            m_peers.erase(key);
        return std::nullopt;
    }
    ++peer.replies;
    for (const auto& r : built.answers)
        peer.sent[{origin.senderPort, recordKey(r)}] = t;
    reply.packet = built.packet;
    reply.to = to;
    reply.port = origin.senderPort;
    reply.answers = int(built.answers.size());
    return reply;
}

void MdnsResponder::announceOn(const QNetworkInterface& i, std::uint32_t ttlScale)
{
    DnsMessage m;
    m.flags = DnsMessage::kFlagResponse | DnsMessage::kFlagAuthoritative;
    m.answers = records(i.index(), ttlScale, false).all();
    const QByteArray packet = m.serialize();
    for (const auto& s : m_sockets) {
        // Without an address of the socket's family the interface cannot be chosen for sending.
        bool has = false;
        for (const auto& e : i.addressEntries())
            has = has || e.ip().protocol() ==
                             (s->v6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol);
        if (!has)
            continue;
        s->udp->setMulticastInterface(i);
        s->udp->writeDatagram(packet, s->v6 ? kGroupV6 : kGroupV4, m_network.port);
        if (ttlScale > 0)
            noteMulticast(i.index(), s->v6, m.answers, now());
    }
}

void MdnsResponder::announce(std::uint32_t ttlScale)
{
    for (const auto& i : m_interfaces)
        announceOn(i, ttlScale);
    if (ttlScale > 0 && ++m_announcements < kAnnouncements)
        m_announceTimer.start(kAnnounceIntervalMs);
}

void MdnsResponder::readPending(Socket& s)
{
    while (s.udp->hasPendingDatagrams()) {
        const QNetworkDatagram d = s.udp->receiveDatagram(kMaxDatagram);
        if (!d.isValid())
            continue;
        const int port = d.senderPort();
        if (port <= 0)
            continue;
        const Origin origin{d.senderAddress(), std::uint16_t(port), d.destinationAddress(),
                            int(d.interfaceIndex())};
        // A packet on an interface not seen yet: it appeared since the last check.
        if (origin.interfaceIndex > 0 && !interfaceByIndex(origin.interfaceIndex) &&
            m_sinceRescan.elapsed() > 1000)
            refreshInterfaces();
        const auto reply = respond(d.data(), origin);
        if (!reply)
            continue;
        if (!reply->multicast) {
            s.udp->writeDatagram(reply->packet, reply->to, reply->port);
            continue;
        }
        if (const QNetworkInterface* i = interfaceByIndex(origin.interfaceIndex)) {
            s.udp->setMulticastInterface(*i);
            s.udp->writeDatagram(reply->packet, s.v6 ? kGroupV6 : kGroupV4, m_network.port);
        }
    }
}

} // namespace qr
