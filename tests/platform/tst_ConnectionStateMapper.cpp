#include "platform/ConnectionStateMapper.h"

#include <QTest>

using qr::ConnectionState;
using qr::ConnectionStateMapper;

namespace {

// Events fed to the mapper, in order.
enum Event {
    Start,
    StartHandledConnected,
    StartHandledUnconnected,
    ErrRemoteClosed,
    ErrNetwork,
    ErrTimeout,
    ErrTemporary,
    SockUnconnected,
    SockClosing,
    Cancel
};

int feed(ConnectionStateMapper& m, Event e)
{
    std::optional<ConnectionState> s;
    switch (e) {
    case Start:
        s = m.onStart();
        break;
    case StartHandledConnected:
        s = m.onStartHandled(QAbstractSocket::ConnectedState);
        break;
    case StartHandledUnconnected:
        s = m.onStartHandled(QAbstractSocket::UnconnectedState);
        break;
    case ErrRemoteClosed:
        s = m.onError(QAbstractSocket::RemoteHostClosedError);
        break;
    case ErrNetwork:
        s = m.onError(QAbstractSocket::NetworkError);
        break;
    case ErrTimeout:
        s = m.onError(QAbstractSocket::SocketTimeoutError);
        break;
    case ErrTemporary:
        s = m.onError(QAbstractSocket::TemporaryError);
        break;
    case SockUnconnected:
        s = m.onSocketStateChanged(QAbstractSocket::UnconnectedState);
        break;
    case SockClosing:
        s = m.onSocketStateChanged(QAbstractSocket::ClosingState);
        break;
    case Cancel:
        s = m.onCancel();
        break;
    }
    return s ? int(*s) : 0;
}

} // namespace

class TestConnectionStateMapper : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void mapping_data();
    void mapping();
};

void TestConnectionStateMapper::mapping_data()
{
    QTest::addColumn<QList<int>>("events");
    QTest::addColumn<QList<int>>("reports"); // 0 = nothing reported

    QTest::newRow("accepted and started") << QList<int>{Start, StartHandledConnected} << QList<int>{2, 3};
    QTest::newRow("peer closes") << QList<int>{Start, StartHandledConnected, ErrRemoteClosed, SockClosing,
                                               SockUnconnected}
                                 << QList<int>{2, 3, 5, 0, 0};
    QTest::newRow("network failure stays failed")
        << QList<int>{Start, StartHandledConnected, ErrNetwork, SockUnconnected, ErrRemoteClosed}
        << QList<int>{2, 3, 4, 0, 0};
    QTest::newRow("keepalive timeout, then cancelled by us")
        << QList<int>{Start, StartHandledConnected, ErrTimeout, Cancel} << QList<int>{2, 3, 4, 5};
    QTest::newRow("cancelled by us is final")
        << QList<int>{Start,      StartHandledConnected, Cancel, SockUnconnected,
                      ErrNetwork, StartHandledConnected}
        << QList<int>{2, 3, 5, 0, 0, 0};
    QTest::newRow("closed before the start was handled")
        << QList<int>{Start, StartHandledUnconnected, SockUnconnected} << QList<int>{2, 5, 0};
    QTest::newRow("temporary error waits")
        << QList<int>{Start, StartHandledConnected, ErrTemporary, ErrTemporary} << QList<int>{2, 3, 1, 0};
    QTest::newRow("plain close without an error")
        << QList<int>{Start, StartHandledConnected, SockUnconnected} << QList<int>{2, 3, 5};
    QTest::newRow("started twice") << QList<int>{Start, Start, StartHandledConnected, StartHandledConnected}
                                   << QList<int>{2, 0, 3, 0};
}

void TestConnectionStateMapper::mapping()
{
    QFETCH(QList<int>, events);
    QFETCH(QList<int>, reports);
    ConnectionStateMapper m;
    QList<int> got;
    for (int e : events)
        got.append(feed(m, Event(e)));
    QCOMPARE(got, reports);
}

QTEST_GUILESS_MAIN(TestConnectionStateMapper)
#include "tst_ConnectionStateMapper.moc"
