#include "platform/MdnsResponder.h"

#include "platform/LogCategories.h"

#include <QNetworkDatagram>
#include <QSysInfo>
#include <QUdpSocket>
#include <QVariant>

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

} // namespace

struct MdnsResponder::Socket {
    std::unique_ptr<QUdpSocket> udp;
    bool v6 = false;
};

MdnsResponder::MdnsResponder(QObject* parent) : QObject(parent)
{
    m_announceTimer.setSingleShot(true);
    connect(&m_announceTimer, &QTimer::timeout, this, [this] { announce(1); });
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

QList<QNetworkInterface> MdnsResponder::interfaces() const
{
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
    const auto ifaces = interfaces();
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
        for (const QNetworkInterface& i : ifaces)
            s->udp->joinMulticastGroup(v6 ? kGroupV6 : kGroupV4, i);
        Socket* raw = s.get();
        connect(s->udp.get(), &QUdpSocket::readyRead, this, [this, raw] { readPending(*raw); });
        m_sockets.push_back(std::move(s));
    }
    if (m_sockets.empty())
        return false;
    m_running = true;
    m_announcements = 0;
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
    if (m_running)
        announce(0);
    m_running = false;
    m_sockets.clear();
}

QList<DnsMessage::Record> MdnsResponder::records(int interfaceIndex, std::uint32_t ttlScale,
                                                 bool legacy) const
{
    const QByteArray domain = m_service.domain;
    const auto typeName = DnsMessage::nameFromString(m_service.type + '.' + domain);
    auto instanceName = typeName;
    instanceName.prepend(m_service.instance);
    const auto host = DnsMessage::nameFromString(m_service.hostName);
    const auto services = DnsMessage::nameFromString("_services._dns-sd._udp." + domain);
    const bool flush = !legacy;
    QList<DnsMessage::Record> out;
    out.append(
        record(services, DnsMessage::PTR, kTtlService * ttlScale, DnsMessage::encodeName(typeName), false));
    out.append(record(typeName, DnsMessage::PTR, kTtlService * ttlScale, DnsMessage::encodeName(instanceName),
                      false));
    out.append(record(instanceName, DnsMessage::SRV, kTtlHost * ttlScale,
                      DnsMessage::srvRdata(0, 0, m_service.port, host), flush));
    out.append(record(instanceName, DnsMessage::TXT, kTtlService * ttlScale, m_service.txt, flush));
    // Addresses of the interface the query came on; all of ours when that is not one of them.
    auto ifaces = interfaces();
    QList<QNetworkInterface> chosen;
    for (const auto& i : ifaces) {
        if (i.index() == interfaceIndex)
            chosen.append(i);
    }
    if (chosen.isEmpty())
        chosen = ifaces;
    for (const auto& i : chosen) {
        for (const auto& e : i.addressEntries()) {
            const QHostAddress a = e.ip();
            if (a.protocol() == QAbstractSocket::IPv4Protocol) {
                const quint32 v = a.toIPv4Address();
                QByteArray rd;
                for (int shift = 24; shift >= 0; shift -= 8)
                    rd.append(char((v >> shift) & 0xFF));
                addUnique(out, record(host, DnsMessage::A, kTtlHost * ttlScale, rd, flush));
            } else if (a.protocol() == QAbstractSocket::IPv6Protocol) {
                const Q_IPV6ADDR v = a.toIPv6Address();
                addUnique(out, record(host, DnsMessage::AAAA, kTtlHost * ttlScale,
                                      QByteArray(reinterpret_cast<const char*>(v.c), 16), flush));
            }
        }
    }
    if (legacy) {
        for (auto& r : out)
            r.ttl = std::min(r.ttl, kTtlLegacyMax);
    }
    return out;
}

QByteArray MdnsResponder::answerFor(QByteArrayView packet, std::uint16_t senderPort, int interfaceIndex) const
{
    const auto query = DnsMessage::parse(packet);
    return query ? answerTo(*query, senderPort, interfaceIndex) : QByteArray();
}

QByteArray MdnsResponder::answerTo(const DnsMessage& query, std::uint16_t senderPort,
                                   int interfaceIndex) const
{
    if (query.isResponse() || (query.flags & 0x7800) != 0)
        return {};
    const bool legacy = senderPort != m_network.port;
    const auto all = records(interfaceIndex, 1, legacy);
    auto find = [&all](std::uint16_t type) {
        QList<DnsMessage::Record> out;
        for (const auto& r : all) {
            if (r.type == type)
                out.append(r);
        }
        return out;
    };
    const auto ptrs = find(DnsMessage::PTR);
    const auto srv = find(DnsMessage::SRV).first();
    const auto txt = find(DnsMessage::TXT).first();
    const auto a = find(DnsMessage::A);
    const auto aaaa = find(DnsMessage::AAAA);
    const auto& servicesPtr = ptrs[0];
    const auto& servicePtr = ptrs[1];

    QList<DnsMessage::Record> answers;
    QList<DnsMessage::Record> extra;
    auto wants = [](const DnsMessage::Question& q, std::uint16_t type) {
        return q.type == type || q.type == DnsMessage::ANY;
    };
    for (const auto& q : query.questions) {
        if (q.klass != DnsMessage::kClassIn && q.klass != DnsMessage::ANY)
            continue;
        if (DnsMessage::sameName(q.name, servicesPtr.name) && wants(q, DnsMessage::PTR))
            addUnique(answers, servicesPtr);
        if (DnsMessage::sameName(q.name, servicePtr.name) && wants(q, DnsMessage::PTR)) {
            addUnique(answers, servicePtr);
            addUnique(extra, srv);
            for (const auto& r : a + aaaa)
                addUnique(extra, r);
            // Last: a standard resolver may fail to read raw TXT data after which it reads nothing.
            addUnique(extra, txt);
        }
        if (DnsMessage::sameName(q.name, srv.name)) {
            if (wants(q, DnsMessage::SRV)) {
                addUnique(answers, srv);
                for (const auto& r : a + aaaa)
                    addUnique(extra, r);
            }
            if (wants(q, DnsMessage::TXT))
                addUnique(answers, txt);
        }
        if (DnsMessage::sameName(q.name, DnsMessage::nameFromString(m_service.hostName))) {
            if (wants(q, DnsMessage::A)) {
                for (const auto& r : a)
                    addUnique(answers, r);
            }
            if (wants(q, DnsMessage::AAAA)) {
                for (const auto& r : aaaa)
                    addUnique(answers, r);
            }
        }
    }
    // Known-answer suppression: leave out what the asker already holds with at least half our TTL.
    QList<DnsMessage::Record> kept;
    for (const auto& r : answers) {
        bool known = false;
        for (const auto& k : query.answers)
            known = known || (sameRecord(k, r) && k.ttl >= r.ttl / 2);
        if (!known)
            kept.append(r);
    }
    if (kept.isEmpty())
        return {};
    DnsMessage response;
    response.flags = DnsMessage::kFlagResponse | DnsMessage::kFlagAuthoritative;
    if (legacy) {
        response.id = query.id;
        response.questions = query.questions;
        for (auto& q : response.questions)
            q.unicastResponse = false;
    }
    response.answers = kept;
    for (const auto& r : extra) {
        bool dup = false;
        for (const auto& k : kept)
            dup = dup || sameRecord(k, r);
        if (!dup)
            response.additionals.append(r);
    }
    return response.serialize();
}

void MdnsResponder::announce(std::uint32_t ttlScale)
{
    const auto ifaces = interfaces();
    for (const auto& s : m_sockets) {
        for (const auto& i : ifaces) {
            DnsMessage m;
            m.flags = DnsMessage::kFlagResponse | DnsMessage::kFlagAuthoritative;
            m.answers = records(i.index(), ttlScale, false);
            s->udp->setMulticastInterface(i);
            s->udp->writeDatagram(m.serialize(), s->v6 ? kGroupV6 : kGroupV4, m_network.port);
        }
    }
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
        const auto query = DnsMessage::parse(d.data());
        if (!query) {
            qCDebug(lcMvc).noquote() << "mDNS packet of" << d.data().size() << "bytes from"
                                     << d.senderAddress().toString() << "dropped: malformed";
            continue;
        }
        const QByteArray answer = answerTo(*query, std::uint16_t(port), int(d.interfaceIndex()));
        if (answer.isEmpty())
            continue;
        if (port != m_network.port) {
            s.udp->writeDatagram(answer, d.senderAddress(), std::uint16_t(port));
            continue;
        }
        for (const auto& i : interfaces()) {
            if (i.index() == int(d.interfaceIndex())) {
                s.udp->setMulticastInterface(i);
                s.udp->writeDatagram(answer, s.v6 ? kGroupV6 : kGroupV4, m_network.port);
            }
        }
    }
}

} // namespace qr
