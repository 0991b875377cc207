#pragma once

#include "platform/DnsMessage.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QNetworkInterface>
#include <QObject>
#include <QString>
#include <QTimer>

#include <cstdint>
#include <memory>

class QUdpSocket;
class QNetworkDatagram;

namespace qr {

// A small multicast DNS responder that advertises one DNS-SD service: the PTR from the service type
// to the instance, the instance's SRV and TXT, the host's A and AAAA records, and the
// "_services._dns-sd._udp" PTR. The TXT rdata is published exactly as given (not as a list of
// length-prefixed strings), which the DNS-SD daemons of the platform cannot do.
//
// It answers multicast queries by multicast on the interface they came from and legacy unicast
// queries (source port other than the mDNS port) by unicast to the sender, announces at start and
// says goodbye (TTL 0) at stop. The socket shares its port, so it lives beside a running
// avahi-daemon. Malformed packets are dropped. It does not probe for name conflicts.
class MdnsResponder : public QObject {
    Q_OBJECT
public:
    static constexpr std::uint16_t kMdnsPort = 5353;

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
    };

    explicit MdnsResponder(QObject* parent = nullptr);
    ~MdnsResponder() override;

    void setNetwork(const Network& network) { m_network = network; }
    // The service answerFor() speaks for; start() sets it too.
    void setService(const Service& service);
    // Binds, joins the groups and announces. False when no socket could be bound.
    bool start(const Service& service);
    // Sends goodbyes and closes the sockets.
    void stop();
    bool isRunning() const { return m_running; }

    const Service& service() const { return m_service; }
    QByteArray hostName() const { return m_service.hostName; }

    // The answer to one query packet from `sender`:`senderPort` arriving on interface
    // `interfaceIndex` (0 when unknown); empty when the packet is malformed, is not a query, or asks
    // nothing this responder knows.
    QByteArray answerFor(QByteArrayView packet, std::uint16_t senderPort, int interfaceIndex) const;

    static QByteArray defaultHostName();

Q_SIGNALS:
    // The service is being advertised (after the first announcement): service name, type, domain.
    void advertised(const QString& name, const QString& type, const QString& domain);

private:
    struct Socket;

    QList<DnsMessage::Record> records(int interfaceIndex, std::uint32_t ttlScale, bool legacy) const;
    QByteArray answerTo(const DnsMessage& query, std::uint16_t senderPort, int interfaceIndex) const;
    void announce(std::uint32_t ttlScale);
    void readPending(Socket& s);
    QList<QNetworkInterface> interfaces() const;

    Network m_network;
    Service m_service;
    std::vector<std::unique_ptr<Socket>> m_sockets;
    QTimer m_announceTimer;
    int m_announcements = 0;
    bool m_running = false;
};

} // namespace qr
