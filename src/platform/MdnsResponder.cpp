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
    return query ? answerTo(*query, origin) : QByteArray();
}

QByteArray MdnsResponder::answerFor(QByteArrayView packet, std::uint16_t senderPort, int interfaceIndex) const
{
    return answerFor(packet,
                     Origin{QHostAddress(QHostAddress::LocalHost), senderPort, kGroupV4, interfaceIndex});
}

QByteArray MdnsResponder::answerTo(const DnsMessage& query, const Origin& origin) const
{
    if (query.isResponse() || (query.flags & 0x7800) != 0)
        return {};
    // A query sent to one of our unicast addresses may come from anywhere routing reaches: answer
    // only this host and the subnets of the interface it came in on.
    if (!origin.destination.isMulticast()) {
        bool onLink = origin.sender.isLoopback();
        for (const QNetworkInterface& i : m_interfaces) {
            if (onLink)
                break;
            const auto entries = i.addressEntries();
            for (const auto& e : entries)
                onLink = onLink || e.ip().isEqual(origin.sender, QHostAddress::TolerantConversion);
            if (i.index() == origin.interfaceIndex)
                onLink = onLink || isOnLink(origin.sender, entries);
        }
        if (!onLink)
            return {};
    }
    const bool legacy = origin.senderPort != m_network.port;
    const Records rec = records(origin.interfaceIndex, 1, legacy);
    const auto& servicesPtr = rec.servicesPtr;
    const auto& servicePtr = rec.servicePtr;
    const auto& srv = rec.srv;
    const auto& txt = rec.txt;
    const auto& a = rec.a;
    const auto& aaaa = rec.aaaa;

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
        const auto query = DnsMessage::parse(d.data());
        if (!query) {
            qCDebug(lcMvc).noquote() << "mDNS packet of" << d.data().size() << "bytes from"
                                     << d.senderAddress().toString() << "dropped: malformed";
            continue;
        }
        const Origin origin{d.senderAddress(), std::uint16_t(port), d.destinationAddress(),
                            int(d.interfaceIndex())};
        // A packet on an interface not seen yet: it appeared since the last check.
        if (origin.interfaceIndex > 0 && !interfaceByIndex(origin.interfaceIndex) &&
            m_sinceRescan.elapsed() > 1000)
            refreshInterfaces();
        const QByteArray answer = answerTo(*query, origin);
        if (answer.isEmpty())
            continue;
        if (port != m_network.port) {
            s.udp->writeDatagram(answer, d.senderAddress(), std::uint16_t(port));
            continue;
        }
        if (const QNetworkInterface* i = interfaceByIndex(origin.interfaceIndex)) {
            s.udp->setMulticastInterface(*i);
            s.udp->writeDatagram(answer, s.v6 ? kGroupV6 : kGroupV4, m_network.port);
        }
    }
}

} // namespace qr
