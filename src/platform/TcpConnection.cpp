#include "platform/TcpConnection.h"

#include "platform/LogCategories.h"

#include <QTcpSocket>
#include <QVariant>
#include <QtEndian>

#include <linux/neighbour.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qr {

namespace {

// The link-layer address the kernel's neighbour table holds for `ip` (network byte order, 4 or 16
// bytes); empty when it has none, as for a peer on loopback or beyond a router.
QByteArray neighbourLinkAddress(int family, const QByteArray& ip)
{
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0)
        return {};
    const timeval timeout{0, 100'000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    struct {
        nlmsghdr header;
        ndmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ndmsg));
    request.header.nlmsg_type = RTM_GETNEIGH;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.body.ndm_family = std::uint8_t(family);
    QByteArray found;
    if (::send(fd, &request, request.header.nlmsg_len, 0) >= 0) {
        alignas(nlmsghdr) char buffer[32768]; // the most the kernel puts in one dump datagram
        bool done = false;
        while (!done) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                break;
            int left = int(n);
            for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
                if (h->nlmsg_type == NLMSG_DONE || h->nlmsg_type == NLMSG_ERROR) {
                    done = true;
                    break;
                }
                if (h->nlmsg_type != RTM_NEWNEIGH || h->nlmsg_len < NLMSG_LENGTH(sizeof(ndmsg)))
                    continue;
                const auto* nd = static_cast<const ndmsg*>(NLMSG_DATA(h));
                if (nd->ndm_state & (NUD_INCOMPLETE | NUD_FAILED | NUD_NOARP))
                    continue;
                QByteArrayView dst;
                QByteArrayView lladdr;
                int attrLeft = int(h->nlmsg_len - NLMSG_LENGTH(sizeof(ndmsg)));
                for (auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(nd) +
                                                               NLMSG_ALIGN(sizeof(ndmsg)));
                     RTA_OK(a, attrLeft); a = RTA_NEXT(a, attrLeft)) {
                    const QByteArrayView value(static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a));
                    if (a->rta_type == NDA_DST)
                        dst = value;
                    else if (a->rta_type == NDA_LLADDR)
                        lladdr = value;
                }
                if (found.isEmpty() && dst == ip && !lladdr.isEmpty() && lladdr.count('\0') != lladdr.size())
                    found = lladdr.toByteArray();
            }
        }
    }
    ::close(fd);
    return found;
}

} // namespace

TcpConnection::TcpConnection(QTcpSocket* socket, QObject* parent) : QObject(parent), m_socket(socket)
{
    m_socket->setParent(this);
    m_peer = peerName(m_socket);
    m_socket->setReadBufferSize(kReadBufferBytes);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, &TcpConnection::readyRead);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        qCDebug(lcMvc).noquote() << m_peer << "socket error:" << m_socket->errorString();
        post(m_mapper.onError(e));
    });
    connect(m_socket, &QTcpSocket::stateChanged, this,
            [this](QAbstractSocket::SocketState s) { post(m_mapper.onSocketStateChanged(s)); });
}

QString TcpConnection::peerName(const QTcpSocket* socket)
{
    const QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    return (mapped ? QHostAddress(v4) : address).toString() + QLatin1Char(' ') +
           QString::number(socket->peerPort());
}

QString TcpConnection::peerHost(const QTcpSocket* socket)
{
    QHostAddress address = socket->peerAddress();
    bool mapped = false;
    const quint32 v4 = address.toIPv4Address(&mapped);
    QByteArray ip;
    int family = AF_INET6;
    if (mapped || address.protocol() == QAbstractSocket::IPv4Protocol) {
        const quint32 be = qToBigEndian(v4);
        ip = QByteArray(reinterpret_cast<const char*>(&be), 4);
        family = AF_INET;
        address = QHostAddress(v4);
    } else {
        const Q_IPV6ADDR v6 = address.toIPv6Address();
        ip = QByteArray(reinterpret_cast<const char*>(v6.c), 16);
        address.setScopeId(QString());
    }
    const QByteArray link = neighbourLinkAddress(family, ip);
    if (!link.isEmpty())
        return QStringLiteral("link ") + QString::fromLatin1(link.toHex(':'));
    return QStringLiteral("ip ") + address.toString();
}

TcpConnection::~TcpConnection()
{
    m_socket->disconnect(this);
    m_socket->abort();
}

void TcpConnection::start()
{
    post(m_mapper.onStart());
    QMetaObject::invokeMethod(
        this, [this] { post(m_mapper.onStartHandled(m_socket->state())); }, Qt::QueuedConnection);
}

void TcpConnection::cancel()
{
    const auto s = m_mapper.onCancel();
    m_socket->disconnect(this);
    m_socket->abort();
    post(s);
}

void TcpConnection::send(const QByteArray& bytes)
{
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        m_socket->write(bytes);
}

void TcpConnection::post(std::optional<ConnectionState> s)
{
    if (!s)
        return;
    QMetaObject::invokeMethod(
        this, [this, state = int(*s)] { Q_EMIT stateChanged(state); }, Qt::QueuedConnection);
}

} // namespace qr
