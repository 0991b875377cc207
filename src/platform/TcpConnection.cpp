#include "platform/TcpConnection.h"

#include "platform/LogCategories.h"

#include <QTcpSocket>
#include <QVariant>

namespace qr {

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
