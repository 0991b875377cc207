#include "platform/ConnectionStateMapper.h"

namespace qr {

std::optional<ConnectionState> ConnectionStateMapper::report(ConnectionState s, bool byCancel)
{
    if (m_last == ConnectionState::Cancelled)
        return std::nullopt;
    if (m_last == ConnectionState::Failed && !byCancel)
        return std::nullopt;
    if (m_last == s)
        return std::nullopt;
    m_last = s;
    return s;
}

std::optional<ConnectionState> ConnectionStateMapper::onStart()
{
    if (m_last)
        return std::nullopt;
    return report(ConnectionState::Preparing);
}

std::optional<ConnectionState> ConnectionStateMapper::onStartHandled(QAbstractSocket::SocketState socketState)
{
    if (m_last != ConnectionState::Preparing)
        return std::nullopt;
    switch (socketState) {
    case QAbstractSocket::ConnectedState:
        return report(ConnectionState::Ready);
    case QAbstractSocket::UnconnectedState:
        return report(ConnectionState::Cancelled);
    default:
        return std::nullopt;
    }
}

std::optional<ConnectionState> ConnectionStateMapper::onError(QAbstractSocket::SocketError error)
{
    switch (error) {
    case QAbstractSocket::RemoteHostClosedError:
        return report(ConnectionState::Cancelled);
    case QAbstractSocket::TemporaryError:
        return report(ConnectionState::Waiting);
    default:
        return report(ConnectionState::Failed);
    }
}

std::optional<ConnectionState>
ConnectionStateMapper::onSocketStateChanged(QAbstractSocket::SocketState socketState)
{
    // An error, if there was one, has been reported first and decides the state; a plain close
    // from either side ends as cancelled.
    if (socketState == QAbstractSocket::UnconnectedState && m_last)
        return report(ConnectionState::Cancelled);
    return std::nullopt;
}

std::optional<ConnectionState> ConnectionStateMapper::onCancel()
{
    return report(ConnectionState::Cancelled, true);
}

} // namespace qr
