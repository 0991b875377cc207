#include "PhoneSim.h"

#include "decode/Lz4FrameEncoder.h"
#include "mvc/MvcShutterCmd.h"
#include "platform/DnsMessage.h"

#include <QDeadlineTimer>
#include <QNetworkDatagram>
#include <QTcpSocket>
#include <QUdpSocket>
#include <QtEndian>

#include <cmath>

namespace qr {

PhoneSim::PhoneSim(const Options& options, QObject* parent)
    : QObject(parent), m_o(options), m_rng(options.seed)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PhoneSim::sendNext);
    const int cycle = std::max(1, m_o.patternCycle);
    for (int i = 0; i < cycle; ++i)
        m_payloads.append(Lz4FrameEncoder::encode(testPatternRgb(m_o.width, m_o.height, i, m_o.noisy)));
}

PhoneSim::~PhoneSim() = default;

bool PhoneSim::isConnected() const
{
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

void PhoneSim::start()
{
    m_socket = new QTcpSocket(this);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        Q_EMIT connected();
        m_clock.start();
        sendNext();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &PhoneSim::readShutters);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        // A connection that never came up ends the run; a close by the master arrives as a
        // disconnection below.
        if (!m_finished && m_sent == 0 && m_socket->state() != QAbstractSocket::ConnectedState) {
            m_failed = true;
            m_finished = true;
            m_timer.stop();
            Q_EMIT finished();
        }
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        m_timer.stop();
        if (!m_finished) {
            m_finished = true;
            Q_EMIT finished();
        }
    });
    m_socket->connectToHost(m_o.host, m_o.port);
}

QByteArray PhoneSim::testPatternRgb(int width, int height, int n, bool noisy)
{
    QByteArray rgb(qsizetype(width) * height * 3, Qt::Uninitialized);
    auto* p = reinterpret_cast<unsigned char*>(rgb.data());
    const int cx = (width / 2 + n * 4) % std::max(1, width);
    const int cy = (height / 2 + n * 3) % std::max(1, height);
    static const unsigned char kColours[4][3] = {
        {230, 30, 30}, {30, 200, 40}, {40, 60, 230}, {240, 240, 240}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const int q = (y < cy ? 0 : 2) + (x < cx ? 0 : 1);
            unsigned char* px = p + (qsizetype(y) * width + x) * 3;
            px[0] = kColours[q][0];
            px[1] = kColours[q][1];
            px[2] = kColours[q][2];
        }
    }
    if (noisy) {
        std::uint32_t x = 0x9E3779B9U * std::uint32_t(n + 1);
        for (qsizetype i = 0; i < rgb.size(); ++i) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            p[i] = static_cast<unsigned char>(std::min(255U, p[i] + (x & 31U)));
        }
    }
    // The frame number as 16 squares of 8 x 8 pixels, most significant bit first.
    for (int bit = 0; bit < 16; ++bit) {
        const unsigned char v = ((n >> (15 - bit)) & 1) ? 255 : 0;
        for (int y = 0; y < std::min(8, height); ++y) {
            for (int x = bit * 8; x < std::min(bit * 8 + 8, width); ++x) {
                unsigned char* px = p + (qsizetype(y) * width + x) * 3;
                px[0] = px[1] = px[2] = v;
            }
        }
    }
    return rgb;
}

QByteArray PhoneSim::message(const Options& o, quint16 counter, const QByteArray& compressedPayload)
{
    MvcMsgHeader h;
    h.ver = 1;
    h.posOrient = std::uint8_t(((o.view & 0x0F) << 4) | (o.orientation & 0x0F));
    h.cntr = counter;
    h.mvcLen = std::uint32_t(compressedPayload.size());
    h.width = std::uint16_t(o.width);
    h.height = std::uint16_t(o.height);
    h.imageCaptureWidth = std::uint16_t(o.width);
    h.imageCaptureHeight = std::uint16_t(o.height);
    const auto bytes = h.serialize();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())) +
           compressedPayload;
}

QByteArray PhoneSim::closeRequest()
{
    MvcMsgHeader h;
    h.ver = MvcMsgHeader::kCloseFlag;
    const auto bytes = h.serialize();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
}

void PhoneSim::sendNext()
{
    if (!isConnected() || m_finished)
        return;
    if (m_o.frames >= 0 && m_sent >= m_o.frames) {
        if (!m_o.stayAfterLast)
            finish();
        return;
    }
    const QByteArray& payload = m_payloads[m_sent % m_payloads.size()];
    writeMessage(message(m_o, quint16(m_sent), payload));
    ++m_sent;
    const qint64 dueMs = qint64(std::llround(double(m_sent) * 1000.0 / std::max(0.1, m_o.fps)));
    m_timer.start(int(std::max<qint64>(0, dueMs - m_clock.elapsed())));
}

void PhoneSim::writeMessage(const QByteArray& bytes)
{
    switch (m_o.chunking) {
    case Chunking::Whole:
        m_socket->write(bytes);
        break;
    case Chunking::Glue:
        m_glued += bytes;
        if ((m_sent + 1) % std::max(1, m_o.glue) == 0) {
            m_socket->write(m_glued);
            m_glued.clear();
        }
        break;
    case Chunking::Random: {
        qsizetype at = 0;
        while (at < bytes.size()) {
            const qsizetype most = std::max<qsizetype>(1, bytes.size() / 4);
            const qsizetype n =
                std::min<qsizetype>(bytes.size() - at, 1 + qsizetype(m_rng.bounded(quint32(most))));
            m_socket->write(bytes.constData() + at, n);
            m_socket->flush();
            at += n;
        }
        break;
    }
    }
    m_socket->flush();
}

void PhoneSim::finish()
{
    if (m_finished)
        return;
    m_timer.stop();
    if (isConnected()) {
        if (!m_glued.isEmpty())
            m_socket->write(m_glued);
        m_glued.clear();
        if (m_o.closeAtEnd)
            m_socket->write(closeRequest());
        m_socket->flush();
        m_socket->disconnectFromHost(); // after the pending bytes are written
    }
    if (!m_finished && (!m_socket || m_socket->state() == QAbstractSocket::UnconnectedState)) {
        m_finished = true;
        Q_EMIT finished();
    }
}

void PhoneSim::readShutters()
{
    m_inbox += m_socket->readAll();
    while (m_inbox.size() >= qsizetype(MvcShutterCmd::kSize)) {
        const QByteArray cmd = m_inbox.first(qsizetype(MvcShutterCmd::kSize));
        m_inbox.remove(0, qsizetype(MvcShutterCmd::kSize));
        MvcShutterCmd parsed;
        MvcShutterCmd::parse(cmd, parsed);
        const bool ok = parsed.command == MvcShutterCmd::kShutter &&
                        (m_o.expectedCode.isEmpty() || cmd.first(6) == m_o.expectedCode);
        ++m_shutters;
        if (!ok)
            ++m_badShutters;
        Q_EMIT shutterReceived(cmd, ok);
    }
}

std::optional<PhoneSim::Discovered> PhoneSim::discover(const QHostAddress& server, quint16 mdnsPort,
                                                       int timeoutMs, const QHostAddress& bindAddress)
{
    QUdpSocket udp;
    if (!udp.bind(bindAddress, 0))
        return std::nullopt;
    DnsMessage q;
    q.id = 0x5151;
    q.questions.append({DnsMessage::nameFromString("_quintaray-mvc._tcp.local"), DnsMessage::PTR, 1, false});
    const QByteArray packet = q.serialize();
    QDeadlineTimer deadline(timeoutMs);
    QDeadlineTimer resend(0);
    while (!deadline.hasExpired()) {
        if (resend.hasExpired()) {
            udp.writeDatagram(packet, server, mdnsPort);
            resend.setRemainingTime(1000);
        }
        if (!udp.waitForReadyRead(100))
            continue;
        while (udp.hasPendingDatagrams()) {
            const QNetworkDatagram d = udp.receiveDatagram(9000);
            const auto m = DnsMessage::parse(d.data());
            if (!m || !m->isResponse())
                continue;
            Discovered out;
            out.address = d.senderAddress();
            bool haveSrv = false;
            bool haveTxt = false;
            for (const auto& r : m->answers + m->additionals) {
                if (r.type == DnsMessage::SRV && r.rdata.size() >= 7) {
                    out.port = quint16((quint8(r.rdata[4]) << 8) | quint8(r.rdata[5]));
                    haveSrv = true;
                } else if (r.type == DnsMessage::TXT) {
                    out.txt = r.rdata;
                    haveTxt = true;
                } else if (r.type == DnsMessage::A && r.rdata.size() == 4 && out.address.isNull()) {
                    out.address = QHostAddress(qFromBigEndian<quint32>(r.rdata.constData()));
                }
            }
            if (haveSrv && haveTxt)
                return out;
        }
    }
    return std::nullopt;
}

} // namespace qr
