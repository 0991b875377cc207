#pragma once

#include "platform/ConnectionState.h"

#include <QAbstractSocket>

#include <optional>

namespace qr {

// The one mapping from a Qt socket's events to the five connection states. Each event returns the
// state to report, or nothing when the event changes nothing:
//
//   start requested (accepted socket)            -> preparing
//   start handled, socket connected               -> ready
//   start handled, socket already unconnected     -> cancelled
//   error RemoteHostClosedError (the peer closed  -> cancelled: the peer is gone for good and its
//     its side, or reset the connection)             slot may be reused
//   error TemporaryError                          -> waiting
//   any other error (network down, keepalive      -> failed
//     timeout, unreachable host, ...)
//   socket became unconnected without an error    -> cancelled
//   cancel() by this program                      -> cancelled
//
// Cancelled is final. After failed only a cancel by this program is reported. A state equal to the
// last one reported is not reported again. A peer that vanishes without closing (powered off, out
// of range) sends nothing: its connection stays ready until the operating system's TCP keepalive
// gives up, which then reports failed.
class ConnectionStateMapper {
public:
    std::optional<ConnectionState> onStart();
    std::optional<ConnectionState> onStartHandled(QAbstractSocket::SocketState socketState);
    std::optional<ConnectionState> onError(QAbstractSocket::SocketError error);
    std::optional<ConnectionState> onSocketStateChanged(QAbstractSocket::SocketState socketState);
    std::optional<ConnectionState> onCancel();

    std::optional<ConnectionState> last() const { return m_last; }

private:
    std::optional<ConnectionState> report(ConnectionState s, bool byCancel = false);

    std::optional<ConnectionState> m_last;
};

} // namespace qr
