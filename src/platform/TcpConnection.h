#pragma once

#include "platform/ConnectionStateMapper.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class QTcpSocket;

namespace qr {

// One accepted TCP connection with the five-state report of ConnectionStateMapper. Every state is
// delivered by a queued call, one event-loop turn after the socket event that caused it, in the
// order the events happened. Reading is the owner's business (readyRead() and socket()).
class TcpConnection : public QObject {
    Q_OBJECT
public:
    // Bounds what Qt buffers for this connection; beyond it the peer is held back by TCP itself.
    static constexpr qint64 kReadBufferBytes = 8 * 1024 * 1024;

    // Takes ownership of an accepted, connected socket.
    explicit TcpConnection(QTcpSocket* socket, QObject* parent = nullptr);
    ~TcpConnection() override;

    // Reports preparing, then ready (or what the socket has become) on a later turn.
    void start();
    // Closes the connection at once and reports cancelled.
    void cancel();
    // Queues bytes for sending; nothing happens on a connection that is not open. Errors are
    // reported through the state, never here.
    void send(const QByteArray& bytes);

    QTcpSocket* socket() const { return m_socket; }
    // "address port" of the socket's peer, an IPv4 address mapped into IPv6 written as IPv4.
    static QString peerName(const QTcpSocket* socket);
    // The host of the socket's peer: "link " and its link-layer address where the kernel's neighbour
    // table has one for the peer's address (every address of one device on the local link shares
    // it: link-local and global IPv6, IPv4), else "ip " and the address without its scope.
    static QString peerHost(const QTcpSocket* socket);
    std::optional<ConnectionState> state() const { return m_mapper.last(); }

Q_SIGNALS:
    void stateChanged(int state);
    void readyRead();

private:
    void post(std::optional<ConnectionState> s);

    QTcpSocket* m_socket;
    QString m_peer; // address and port, for diagnostics
    ConnectionStateMapper m_mapper;
};

} // namespace qr
