#pragma once

#include "mvc/MvcMsgHeader.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QRandomGenerator>
#include <QTimer>

#include <optional>

class QTcpSocket;

namespace qr {

// A simulated capture phone: connects to the master, streams a moving test pattern as messages of
// the capture protocol, optionally cut into random chunks or glued together, sends a close request
// at the end and checks every shutter command it receives against the expected code.
class PhoneSim : public QObject {
    Q_OBJECT
public:
    enum class Chunking { Whole, Random, Glue };

    struct Options {
        QHostAddress host = QHostAddress::LocalHost;
        quint16 port = 0;
        int width = 640;
        int height = 480;
        double fps = 30.0;
        int frames = -1; // -1: until stopped
        int view = 0;
        int orientation = 1;
        Chunking chunking = Chunking::Whole;
        int glue = 3;
        QByteArray expectedCode; // six bytes; empty: accept any
        quint32 seed = 1;
        int patternCycle = 8; // distinct frames made in advance and sent in turn
        bool closeAtEnd = true;
        bool stayAfterLast = false; // after the last frame: connected and silent, as a stalled phone
        bool noisy = false;         // sensor-like noise, which LZ4 barely compresses
    };

    struct Discovered {
        QHostAddress address;
        quint16 port = 0;
        QByteArray txt;
    };

    explicit PhoneSim(const Options& options, QObject* parent = nullptr);
    ~PhoneSim() override;

    void start();
    // Sends the close request (when asked to) and disconnects.
    void finish();

    int framesSent() const { return m_sent; }
    int shuttersReceived() const { return m_shutters; }
    int badShutters() const { return m_badShutters; }
    bool isConnected() const;
    // The connection could not be made.
    bool failed() const { return m_failed; }

    // Asks for the service by a DNS-SD query to `server` (a multicast group or a responder's
    // unicast address) and waits up to `timeoutMs` for the answer.
    static std::optional<Discovered> discover(const QHostAddress& server, quint16 mdnsPort, int timeoutMs,
                                              const QHostAddress& bindAddress = QHostAddress::AnyIPv4);

    // The raw RGB test pattern of frame `n`: four coloured quadrants that move with the frame number,
    // and the frame number in binary as 16 black or white 8-pixel squares along the top-left edge.
    // With `noisy`, every byte also gets up to 31 of pseudo-random noise.
    static QByteArray testPatternRgb(int width, int height, int n, bool noisy = false);
    // One whole message (header and compressed payload).
    static QByteArray message(const Options& o, quint16 counter, const QByteArray& compressedPayload);
    static QByteArray closeRequest();

Q_SIGNALS:
    void connected();
    void shutterReceived(const QByteArray& command, bool codeOk);
    void finished();

private:
    void sendNext();
    void writeMessage(const QByteArray& bytes);
    void readShutters();

    Options m_o;
    QTcpSocket* m_socket = nullptr;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QList<QByteArray> m_payloads;
    QByteArray m_glued;
    QByteArray m_inbox;
    QRandomGenerator m_rng;
    int m_sent = 0;
    int m_shutters = 0;
    int m_badShutters = 0;
    bool m_finished = false;
    bool m_failed = false;
};

} // namespace qr
