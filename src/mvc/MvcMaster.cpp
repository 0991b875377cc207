#include "mvc/MvcMaster.h"

#include "mvc/MvcShutterCmd.h"
#include "platform/LogCategories.h"
#include "platform/TcpConnection.h"

#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace qr {

namespace {

// Socket reads are cut into pieces of at most this size, so that what waits in the assembler
// beside one payload stays small.
constexpr qint64 kReadPiece = 1024 * 1024;

// After an accept error (descriptors or memory ran out) the listener pauses; it tries again after
// this long, by when a closed connection may have given a descriptor back. Waiting connections stay
// in the kernel's backlog meanwhile.
constexpr int kAcceptRetryMs = 200;

// How often the stale marks are brought up to date: a stopped stream is marked at most this long
// after it became stale, and its count of seconds moves on time.
constexpr int kStaleCheckMs = 250;

std::int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The address family of the peer (an IPv4 address mapped into IPv6 counting as 4) and its host,
// as the duplicate rule compares them.
MvcSlotTable::Peer peerOf(const QTcpSocket* socket)
{
    const QHostAddress address = socket->peerAddress();
    bool mapped = false;
    address.toIPv4Address(&mapped);
    MvcSlotTable::Peer peer;
    peer.family = mapped ? 4 : address.protocol() == QAbstractSocket::IPv6Protocol ? 6 : 0;
    peer.host = TcpConnection::peerHost(socket).toStdString();
    return peer;
}

} // namespace

MvcMaster::MvcMaster(QObject* parent) : QObject(parent), m_clock(steadyNs)
{
    qRegisterMetaType<qr::MvcIndicatorColour>();
}

MvcMaster::~MvcMaster()
{
    // Jobs post their results to this object: let them finish while it still exists.
    m_pool.clear();
    m_pool.waitForDone();
    if (m_responder)
        m_responder->stop(); // goodbyes
}

bool MvcMaster::isListening() const
{
    return m_listener && m_listener->isListening();
}

quint16 MvcMaster::serverPort() const
{
    return m_listener ? m_listener->serverPort() : 0;
}

int MvcMaster::liveSocketCount() const
{
    int n = 0;
    for (const QTcpSocket* s : findChildren<QTcpSocket*>())
        n += s->state() != QAbstractSocket::UnconnectedState ? 1 : 0;
    return n;
}

bool MvcMaster::setupMvcMaster()
{
    if (m_started)
        return isListening();
    m_started = true;
    startDecodingThreads();
    m_listener = new QTcpServer(this);
    bool ok = m_listener->listen(m_options.listenAddress, m_options.listenPort);
    if (!ok && m_options.listenAddress == QHostAddress(QHostAddress::Any))
        ok = m_listener->listen(QHostAddress::AnyIPv4, m_options.listenPort); // no IPv6 on this host
    if (!ok)
        return false;
    connect(m_listener, &QTcpServer::newConnection, this, &MvcMaster::newConnectionsPending);
    auto* staleTimer = new QTimer(this);
    staleTimer->setInterval(kStaleCheckMs);
    connect(staleTimer, &QTimer::timeout, this, &MvcMaster::checkStaleStreams);
    staleTimer->start();
    m_timeoutTimer = new QTimer(this);
    connect(m_timeoutTimer, &QTimer::timeout, this, &MvcMaster::checkTimeouts);
    m_timeoutTimer->start(kTimeoutCheckMs);
    connect(m_listener, &QTcpServer::acceptError, this, [this](QAbstractSocket::SocketError) {
        qCDebug(lcMvc).noquote() << "accept failed:" << m_listener->errorString() << "- retrying in"
                                 << kAcceptRetryMs << "ms";
        QTimer::singleShot(kAcceptRetryMs, m_listener, &QTcpServer::resumeAccepting);
    });
    if (m_options.advertise) {
        m_responder = new MdnsResponder(this);
        if (!m_options.mdns.useDefaultInterfaces || m_options.mdns.port != MdnsResponder::kMdnsPort)
            m_responder->setNetwork(m_options.mdns);
        connect(m_responder, &MdnsResponder::advertised, this,
                [this](const QString& n, const QString& t, const QString& d) {
                    // Delivered one turn later, as the platform's advertisement callbacks are.
                    QMetaObject::invokeMethod(
                        this, [this, n, t, d] { listenerAdvertisedEndpointChanged(n, t, d, true); },
                        Qt::QueuedConnection);
                });
        MdnsResponder::Service service;
        service.port = m_listener->serverPort();
        service.txt = m_code.codeBytes();
        m_responder->start(service);
    }
    return true;
}

void MvcMaster::startDecodingThreads()
{
    // Every Qt thread opens a descriptor for its event loop's wake-up as it starts, and the process
    // ends when it cannot: a pool thread made on demand, at a frame that arrives while descriptors
    // have run out, would end the program. So the threads are made now and kept for the whole run.
    const int threads = std::max(1, m_options.decodeThreads);
    m_pool.setMaxThreadCount(threads);
    m_pool.setExpiryTimeout(-1);
    if (m_options.decodeThreads <= 0)
        return;
    // Each job holds its thread until all have started, so that each gets a thread of its own.
    auto started = std::make_shared<QSemaphore>();
    auto go = std::make_shared<QSemaphore>();
    for (int i = 0; i < threads; ++i) {
        m_pool.start([started, go] {
            started->release();
            go->acquire();
        });
    }
    started->acquire(threads);
    go->release(threads);
}

void MvcMaster::listenerAdvertisedEndpointChanged(const QString& name, const QString& type,
                                                  const QString& domain, bool added)
{
    if (!added)
        return;
    ++m_listenerAdvertisedEndpointChangedCntr;
    static const QString kFullName = QStringLiteral("MVC-Server._quintaray-mvc._tcp.local.");
    if (m_advertisedEndpointString != kFullName)
        m_advertisedEndpointString = QStringLiteral("%1.%2.%3").arg(name, type, domain);
}

void MvcMaster::newConnectionsPending()
{
    while (m_listener->hasPendingConnections()) {
        QPointer<QTcpSocket> socket = m_listener->nextPendingConnection();
        // Handled one turn later, as the platform's new-connection callback is; the time that the
        // duplicate rule compares is taken now, when the connection was accepted.
        QMetaObject::invokeMethod(
            this,
            [this, socket, acceptedNs = now()] {
                if (socket)
                    listenerRxdNewConnection(socket, acceptedNs);
            },
            Qt::QueuedConnection);
    }
}

void MvcMaster::listenerRxdNewConnection(QTcpSocket* socket, std::optional<std::int64_t> acceptedNs)
{
    const std::int32_t races = m_table.happyEyeballsCntr();
    const int k = m_table.assignNewConnection(acceptedNs.value_or(now()), peerOf(socket));
    const QString peer = TcpConnection::peerName(socket);
    if (k < 0) {
        // Dropped: neither started nor kept.
        qCDebug(lcMvc).noquote() << "connection from" << peer << "dropped:"
                                 << (m_table.happyEyeballsCntr() != races
                                         ? "less than 1 ms after the previous one (connection race)"
                                         : "no free slot");
        socket->abort();
        socket->deleteLater();
        return;
    }
    RxState& rx = m_rx[std::size_t(k)];
    if (rx.conn) {
        // The slot's earlier connection is released without a further state report.
        rx.conn->disconnect(this);
        rx.conn->deleteLater();
    }
    if (rx.conn || rx.endPending) {
        rx.endPending = false;
        Q_EMIT streamEnded(k);
    }
    if (rx.conn)
        qCDebug(lcMvc).noquote() << "slot" << k + 1 << "taken by" << peer
                                 << "(its earlier connection released)";
    else
        qCDebug(lcMvc).noquote() << "slot" << k + 1 << "taken by" << peer;
    ++rx.generation;
    rx.peer = peer;
    rx.acceptedNs = acceptedNs.value_or(now());
    rx.lastBytesNs = rx.acceptedNs;
    rx.headerSeen = false;
    // Bytes an earlier connection left behind would corrupt the new stream's framing.
    rx.assembler.reset();
    rx.fps.reset(acceptedNs.value_or(now()));
    rx.pending.reset();
    auto* conn = new TcpConnection(socket, this);
    rx.conn = conn;
    const std::uint64_t gen = rx.generation;
    connect(conn, &TcpConnection::stateChanged, this, [this, k, gen](int state) {
        if (m_rx[std::size_t(k)].generation == gen)
            rxConnChangedState(k, state);
    });
    connect(conn, &TcpConnection::readyRead, this, [this, k, gen] {
        if (m_rx[std::size_t(k)].generation == gen)
            readAvailable(k);
    });
    conn->start();
    // Bytes that arrived before the connection was handled are waiting in the socket already.
    QMetaObject::invokeMethod(
        this,
        [this, k, gen] {
            if (m_rx[std::size_t(k)].generation == gen)
                readAvailable(k);
        },
        Qt::QueuedConnection);
}

void MvcMaster::rxConnChangedState(int slot, int state)
{
    qCDebug(lcMvc).noquote() << "slot" << slot + 1 << m_rx[std::size_t(slot)].peer << "->"
                             << connectionStateName(state);
    if (const auto paint = m_table.connectionStateChanged(slot, state))
        Q_EMIT indicatorChanged(paint->view, paint->colour);
    if (state == int(ConnectionState::Failed) || state == int(ConnectionState::Cancelled)) {
        RxState& rx = m_rx[std::size_t(slot)];
        if (rx.busy)
            rx.endPending = true; // the frames it sent are shown first
        else
            Q_EMIT streamEnded(slot);
    }
}

void MvcMaster::readAvailable(int slot)
{
    RxState& rx = m_rx[std::size_t(slot)];
    const std::uint64_t gen = rx.generation;
    while (rx.conn && rx.generation == gen && !rx.assembler.isCancelled()) {
        QTcpSocket* s = rx.conn->socket();
        if (s->state() != QAbstractSocket::ConnectedState || s->bytesAvailable() <= 0)
            break;
        const QByteArray chunk = s->read(std::min(s->bytesAvailable(), kReadPiece));
        if (chunk.isEmpty())
            break;
        processChunk(slot, chunk);
    }
}

void MvcMaster::processChunk(int slot, QByteArrayView chunk)
{
    RxState& rx = m_rx[std::size_t(slot)];
    MvcRxSlot& s = m_table.slot(slot);
    const std::int64_t t = now();
    rx.fps.chunkArrived(t);
    rx.lastBytesNs = t;
    rx.assembler.append(chunk);
    MvcMessageAssembler::Message m;
    for (;;) {
        const auto result = rx.assembler.next(m);
        if (result == MvcMessageAssembler::Result::NeedMore) {
            rx.headerSeen = rx.headerSeen || rx.assembler.hasHeader();
            return;
        }
        if (result == MvcMessageAssembler::Result::Cancel) {
            const MvcMsgHeader& h = rx.assembler.rejectedHeader();
            if (h.width == 0 || h.height == 0)
                qCDebug(lcMvc).noquote()
                    << "slot" << slot + 1 << rx.peer << "cancelled: frame size" << h.width << "x" << h.height;
            else
                qCDebug(lcMvc).noquote() << "slot" << slot + 1 << rx.peer << "cancelled: declared length"
                                         << h.mvcLen << "above" << rx.assembler.maxPayload();
            rx.pending.reset();
            if (rx.conn)
                rx.conn->cancel();
            return;
        }
        const bool close = m.header.isCloseRequest();
        if (!close) {
            rx.headerSeen = true;
            if (const auto paint = m_table.viewIndexChanged(slot, m.header.viewIndex()))
                Q_EMIT indicatorChanged(paint->view, paint->colour);
            submit(slot, Job{m.header, std::move(m.payload), t, rx.generation});
        }
        ++s.cntr;
        if (s.viewIndex >= 0 && s.viewIndex < MvcSlotTable::kSlots &&
            m_table.positionOwner(s.viewIndex) == slot) {
            if (const auto text = rx.fps.text(s.cntr, t))
                Q_EMIT fpsTextChanged(s.viewIndex, *text);
        }
        Q_EMIT messageProcessed(slot, s.viewIndex, close);
        if (close) {
            qCDebug(lcMvc).noquote() << "slot" << slot + 1 << rx.peer << "cancelled: close request";
            rx.assembler.reset();
            if (rx.conn)
                rx.conn->cancel();
            return;
        }
    }
}

void MvcMaster::submit(int slot, Job job)
{
    RxState& rx = m_rx[std::size_t(slot)];
    if (rx.busy) {
        if (rx.pending)
            qCDebug(lcMvc) << "slot" << slot + 1
                           << "frame dropped: a newer one arrived before it was decoded";
        rx.pending = std::move(job); // a newer frame supersedes one that is still waiting
        return;
    }
    rx.busy = true;
    if (m_options.decodeThreads <= 0) {
        const QImage image = decodeFrame(*rx.decoder, slot, job);
        decoded(slot, job.generation, job.header.viewIndex(), job.lastByteNs, image);
        return;
    }
    m_pool.start([this, slot, decoder = rx.decoder, job = std::move(job)] {
        QImage image = decodeFrame(*decoder, slot, job);
        QMetaObject::invokeMethod(
            this,
            [this, slot, gen = job.generation, view = job.header.viewIndex(), t = job.lastByteNs,
             image = std::move(image)] { decoded(slot, gen, view, t, image); },
            Qt::QueuedConnection);
    });
}

QImage MvcMaster::decodeFrame(MvcFrameDecoder& decoder, int slot, const Job& job)
{
    QImage image = decoder.decode(job.header, job.payload);
    if (image.isNull())
        qCDebug(lcMvc) << "slot" << slot + 1 << "frame skipped:" << job.payload.size()
                       << "payload bytes did not decode to" << job.header.width << "x" << job.header.height
                       << "x 3 bytes";
    return image;
}

void MvcMaster::decoded(int slot, std::uint64_t generation, int viewIndex, std::int64_t lastByteNs,
                        QImage image)
{
    RxState& rx = m_rx[std::size_t(slot)];
    rx.busy = false;
    // A frame that does not decode is skipped: the previous image stays.
    if (generation == rx.generation && !image.isNull()) {
        m_livePreviewImage[std::size_t(slot)] = image;
        Q_EMIT frameDecoded(slot, viewIndex, lastByteNs);
        if (viewIndex < MvcSlotTable::kSlots && m_table.positionOwner(viewIndex) == slot) {
            m_lastShownNs[std::size_t(viewIndex)] = now();
            setStaleSeconds(viewIndex, 0);
            Q_EMIT frameShown(slot, viewIndex, image, lastByteNs);
            Q_EMIT showImage(viewIndex, image);
        }
    }
    if (rx.pending) {
        Job next = std::move(*rx.pending);
        rx.pending.reset();
        submit(slot, std::move(next));
    }
    if (rx.endPending && !rx.busy && generation == rx.generation) {
        rx.endPending = false;
        Q_EMIT streamEnded(slot);
    }
}

void MvcMaster::checkStaleStreams()
{
    const std::int64_t t = now();
    for (int view = 0; view < MvcSlotTable::kSlots; ++view) {
        // The phone that owns the position still holds a ready connection, yet the
        // picture there has not changed: it is stale. A connection that is not ready shows that by
        // its indicator.
        const int k = rxConnForView(view);
        const auto& last = m_lastShownNs[std::size_t(view)];
        int seconds = 0;
        if (last && k >= 1 && k <= MvcSlotTable::kSlots && m_table.slot(k - 1).ready &&
            t - *last >= kStaleAfterNs)
            seconds = int((t - *last) / 1'000'000'000);
        setStaleSeconds(view, seconds);
    }
}

void MvcMaster::setStaleSeconds(int view, int seconds)
{
    int& shown = m_staleSeconds[std::size_t(view)];
    if (shown == seconds)
        return;
    if (seconds > 0 && shown == 0)
        qCDebug(lcMvc) << "position" << view + 1 << "stale: no frame for" << seconds << "s";
    shown = seconds;
    Q_EMIT streamStale(view, seconds);
}

void MvcMaster::checkTimeouts()
{
    const std::int64_t t = now();
    for (int k = 0; k < MvcSlotTable::kSlots; ++k) {
        RxState& rx = m_rx[std::size_t(k)];
        if (!rx.conn || m_table.slot(k).waitingForRestart)
            continue;
        const auto state = rx.conn->state();
        if (state == ConnectionState::Cancelled || state == ConnectionState::Failed)
            continue;
        const char* why = nullptr;
        if (!rx.headerSeen && t - rx.acceptedNs >= kFirstHeaderTimeoutNs)
            why = "no valid header in time";
        else if (t - rx.lastBytesNs >= kIdleTimeoutNs)
            why = "idle";
        if (!why)
            continue;
        qCDebug(lcMvc).noquote() << "slot" << k + 1 << rx.peer << "cancelled:" << why;
        rx.pending.reset();
        rx.conn->cancel();
    }
}

bool MvcMaster::remoteShutterButtonAction(int view)
{
    if (view < 0 || view >= MvcSlotTable::kSlots)
        return false;
    const int k = rxConnForView(view);
    if (k < 1 || k > MvcSlotTable::kSlots || !m_table.slot(k - 1).ready)
        return false;
    TcpConnection* conn = m_rx[std::size_t(k - 1)].conn;
    if (!conn)
        return false;
    conn->send(MvcShutterCmd::fromCode(m_code).serialize());
    return true;
}

} // namespace qr
