#pragma once

#include "platform/DnsMessage.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QUdpSocket;
class QNetworkDatagram;

namespace qr {

// A small multicast DNS responder that advertises one DNS-SD service: the PTR from the service type
// to the instance, the instance's SRV and TXT, the host's A and AAAA records, and the
// "_services._dns-sd._udp" PTR. The TXT rdata is published exactly as given (not as a list of
// length-prefixed strings), which the DNS-SD daemons of the platform cannot do.
//
// It answers queries from the mDNS port by multicast on the interface they came from, and legacy
// queries (source port other than the mDNS port) by unicast to the sender, announces at start and
// says goodbye (TTL 0) at stop. The socket shares its port, so it lives beside a running
// avahi-daemon, whose records it never speaks for. A source address can be forged, so an answer
// never goes anywhere a query could aim it at will:
// - a legacy query, and any query sent to a unicast address, is answered only when its source is
//   this host or on a subnet of the interface it came in on (the TXT data is a pairing code);
// - a record is multicast on an interface at most once a second (four times when it answers a
//   probe), and sent by unicast to one address and port at most once a second; one address gets at
//   most kUnicastRepliesPerAddress unicast answers a second, and at most kMaxUnicastPeers addresses
//   are answered in one second;
// - a legacy answer repeats only the questions it answers, each once, and no answer is larger than
//   kMaxMulticastBytes (multicast) or kMaxUnicastBytes (unicast): what does not fit is left out.
// The interface list is taken at start and checked again every few seconds (and when a packet
// arrives on an interface not in it); an interface that appears or changes its addresses is joined
// and announced on. Malformed packets are dropped. It does not probe for name conflicts.
class MdnsResponder : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint16_t kMdnsPort = 5353;
    // The rate limits and size bounds described above.
    static constexpr std::int64_t kRecordIntervalNs = 1'000'000'000;
    static constexpr std::int64_t kProbeDefenceIntervalNs = 250'000'000;
    static constexpr int kUnicastRepliesPerAddress = 8;
    static constexpr int kMaxUnicastPeers = 64;
    static constexpr int kMaxMulticastBytes = 1440; // fits an Ethernet frame with IPv6 and UDP headers
    static constexpr int kMaxUnicastBytes = 512;    // what a resolver without extensions reads

    struct Service {
        QByteArray instance = "MVC-Server";
        QByteArray type = "_quintaray-mvc._tcp";
        QByteArray domain = "local";
        QByteArray hostName; // the host's ".local" name; empty: derived from the machine's host name
        std::uint16_t port = 0;
        QByteArray txt; // the TXT record's whole rdata, as it stands
    };

    // Where the responder sends and listens. The default is every up, running, multicast-capable
    // interface and port 5353; tests give loopback alone and may give another port.
    struct Network {
        QList<QNetworkInterface> interfaces;
        bool useDefaultInterfaces = true;
        std::uint16_t port = kMdnsPort;
        bool ipv6 = true;
        // How often the interface list is checked for changes; 0: never after start.
        int rescanIntervalMs = 3000;
        // Replaces the system's list of interfaces (before the filter above); for tests.
        std::function<QList<QNetworkInterface>()> listInterfaces;
    };

    // Where a packet came from and where it was sent.
    struct Origin {
        QHostAddress sender;
        std::uint16_t senderPort = kMdnsPort;
        QHostAddress destination; // the group, or a unicast address of this host; null when unknown
        int interfaceIndex = 0;   // 0 when unknown
    };

    // What to send in reply to one received packet.
    struct Reply {
        QByteArray packet;
        bool multicast = false; // to the group on the interface the query came in on
        QHostAddress to;        // unicast: the sender
        std::uint16_t port = 0; // unicast: the sender's port
        int answers = 0;        // records in the answer section
    };

    explicit MdnsResponder(QObject* parent = nullptr);
    ~MdnsResponder() override;

    void setNetwork(const Network& network) { m_network = network; }
    // Monotonic nanoseconds for the rate limits; tests substitute their own clock.
    void setClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }
    // The service answerFor() speaks for; start() sets it too.
    void setService(const Service& service);
    // Binds, joins the groups and announces. False when no socket could be bound.
    bool start(const Service& service);
    // Sends goodbyes and closes the sockets.
    void stop();

    const Service& service() const { return m_service; }
    QByteArray hostName() const { return m_service.hostName; }

    // The answer to one query packet, without the rate limits; empty when the packet is malformed,
    // is not a query, asks nothing this responder knows, or is a legacy query or was sent to a
    // unicast address from off-link.
    QByteArray answerFor(QByteArrayView packet, const Origin& origin) const;
    // The same for a query sent to the group from loopback.
    QByteArray answerFor(QByteArrayView packet, std::uint16_t senderPort, int interfaceIndex) const;

    // What to send for a packet received now, within the rate limits, which it then counts as
    // sent; nothing when nothing is to be sent.
    std::optional<Reply> respond(QByteArrayView packet, const Origin& origin);

    // Checks the interfaces now: joins the groups on new or changed ones and announces there.
    void refreshInterfaces();
    const QList<QNetworkInterface>& currentInterfaces() const { return m_interfaces; }

    // True when `sender` is loopback or inside one of the subnets `entries` describe.
    static bool isOnLink(const QHostAddress& sender, const QList<QNetworkAddressEntry>& entries);

    static QByteArray defaultHostName();

Q_SIGNALS:
    // The service is being advertised (after the first announcement): service name, type, domain.
    void advertised(const QString& name, const QString& type, const QString& domain);

private:
    struct Socket;

    // This service's records for answers on one interface.
    struct Records {
        DnsMessage::Record servicesPtr; // _services._dns-sd._udp → the service type
        DnsMessage::Record servicePtr;  // the service type → the instance
        DnsMessage::Record srv;
        DnsMessage::Record txt;
        QList<DnsMessage::Record> a;
        QList<DnsMessage::Record> aaaa;
        QList<DnsMessage::Record> all() const;
    };

    // The records a query asks for, before the rate limits: each answer with the question that first
    // asked for it.
    struct Answer {
        bool legacy = false;
        QList<DnsMessage::Question> questions;
        QList<DnsMessage::Record> answers;
        QList<int> askedBy; // per answer, its index in `questions`
        QList<DnsMessage::Record> additionals;
    };
    struct Built {
        QByteArray packet;
        QList<DnsMessage::Record> answers;
        QList<DnsMessage::Record> additionals;
    };
    // Unicast bookkeeping of one address: replies in the current one-second window, and when each
    // record last went to each of its ports.
    struct Peer {
        std::int64_t windowStartNs = 0;
        int replies = 0;
        std::map<std::pair<std::uint16_t, QByteArray>, std::int64_t> sent;
    };

    Records records(int interfaceIndex, std::uint32_t ttlScale, bool legacy) const;
    bool sourceOnLink(const Origin& origin) const;
    std::optional<Answer> answerTo(const DnsMessage& query, const Origin& origin) const;
    // The reply within `maxBytes`; questions are repeated (legacy) only for answers it carries.
    static Built build(const Answer& answer, std::uint16_t id, int maxBytes);
    static QByteArray recordKey(const DnsMessage::Record& r);
    void noteMulticast(int interfaceIndex, bool v6, const QList<DnsMessage::Record>& sent,
                       std::int64_t nowNs);
    std::int64_t now() const { return m_clock(); }
    void announce(std::uint32_t ttlScale);
    void announceOn(const QNetworkInterface& i, std::uint32_t ttlScale);
    void join(const QNetworkInterface& i);
    void readPending(Socket& s);
    QList<QNetworkInterface> listInterfaces() const;
    const QNetworkInterface* interfaceByIndex(int index) const;

    Network m_network;
    std::function<std::int64_t()> m_clock;
    Service m_service;
    // When each record was last multicast, by interface index and address family (index × 2, + 1 for
    // IPv6) and record.
    std::map<std::pair<int, QByteArray>, std::int64_t> m_multicastAt;
    // Unicast answers by destination address (as text, without scope).
    std::map<QString, Peer> m_peers;
    std::vector<std::unique_ptr<Socket>> m_sockets;
    QList<QNetworkInterface> m_interfaces;
    QTimer m_announceTimer;
    QTimer m_rescanTimer;
    QElapsedTimer m_sinceRescan;
    int m_announcements = 0;
    bool m_running = false;
};

} // namespace qr
