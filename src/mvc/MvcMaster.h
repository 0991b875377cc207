#pragma once

#include "mvc/MvcFpsMeter.h"
#include "mvc/MvcFrameDecoder.h"
#include "mvc/MvcMessageAssembler.h"
#include "mvc/MvcSecretCode.h"
#include "mvc/MvcSlotTable.h"
#include "platform/MdnsResponder.h"

#include <QHostAddress>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QThreadPool>

#include <array>
#include <functional>
#include <memory>
#include <optional>

class QTcpServer;
class QTcpSocket;
class QTimer;

namespace qr {

class TcpConnection;

// The Multi View Capture master without its widgets: the advertised listener, the three connection
// slots, message reception and decoding, the shutter command. It says what to show through its
// signals (image for a display position, indicator colour, fps text); the widget side only paints.
// Lives on the main thread; frames are decoded on its own pool, one frame in flight per slot, so a
// slot's frames are shown in order.
class MvcMaster : public QObject {
    Q_OBJECT
public:
    struct Options {
        QHostAddress listenAddress = QHostAddress::Any; // IPv4 and IPv6
        quint16 listenPort = 0;                         // the system chooses
        bool advertise = true;
        MdnsResponder::Network mdns;
        // Threads that decode frames; 0 decodes them on the main thread. One keeps a core free for the
        // main thread and the network on a two-core machine (bench/mvc compares 0, 1 and 2).
        int decodeThreads = 1;
    };

    explicit MvcMaster(QObject* parent = nullptr);
    ~MvcMaster() override;

    void setOptions(const Options& options) { m_options = options; }
    // Monotonic nanoseconds; tests substitute their own clock.
    void setClock(std::function<std::int64_t()> clock) { m_clock = std::move(clock); }

    bool parseSecretCodeInputString(const QString& text) { return m_code.parseSecretCodeInputString(text); }
    void setSecretCode(const MvcSecretCode& code) { m_code = code; }
    const MvcSecretCode& code() const { return m_code; }

    // Creates, advertises and starts the listener; only the first call does anything. False when
    // the listener could not be started.
    bool setupMvcMaster();
    bool isListening() const;
    quint16 serverPort() const;

    // A connection must present a valid header this soon after it was accepted, and is closed when
    // nothing arrives on it for the idle time.
    static constexpr std::int64_t kFirstHeaderTimeoutNs = 5'000'000'000;
    static constexpr std::int64_t kIdleTimeoutNs = 15'000'000'000;
    static constexpr int kTimeoutCheckMs = 500;

    // Position N (0 to 2): sends the shutter command to the phone that owns that position (the
    // first to ask for it, while its connection lasts), if its connection is ready. True when a
    // command was sent.
    bool remoteShutterButtonAction(int view);

    // A position whose phone is connected and ready but has shown no frame there for this long is
    // marked stale.
    static constexpr std::int64_t kStaleAfterNs = 2'000'000'000;
    // Whole seconds without a frame at position `view` (0 to 2) while it is marked stale; 0 when
    // it is not.
    int staleSeconds(int view) const { return m_staleSeconds.at(std::size_t(view)); }
    // Brings the stale marks up to the clock's time; runs several times a second once the master
    // has started.
    void checkStaleStreams();

    const MvcSlotTable& slotTable() const { return m_table; }
    // Slot (1 to 3) whose phone owns position N (0 to 2); 0 = none.
    int rxConnForView(int view) const { return m_table.positionOwner(view) + 1; }
    QImage livePreviewImage(int slot) const { return m_livePreviewImage.at(std::size_t(slot)); }
    std::int32_t listenerAdvertisedEndpointChangedCntr() const
    {
        return m_listenerAdvertisedEndpointChangedCntr;
    }
    QString advertisedEndpointString() const { return m_advertisedEndpointString; }
    // Sockets this master still holds open (at most one per slot once dropped ones are gone).
    int liveSocketCount() const;
    qsizetype bufferedBytes(int slot) const { return m_rx.at(std::size_t(slot)).assembler.bufferedBytes(); }

    // Closes the connections that gave no valid header in time or fell silent, by the clock; runs
    // every kTimeoutCheckMs once the master is set up.
    void checkTimeouts();

    // Assigns an accepted socket to a slot or drops it; takes ownership. `acceptedNs` is when it was
    // accepted (now when not given).
    void listenerRxdNewConnection(QTcpSocket* socket, std::optional<std::int64_t> acceptedNs = std::nullopt);

Q_SIGNALS:
    // Show `image` in the image view of display position `view` (0 to 2).
    void showImage(int view, const QImage& image);
    // Paint the indicator of display position `view` (0 to 2).
    void indicatorChanged(int view, qr::MvcIndicatorColour colour);
    // Set the fps label of display position `view` (0 to 2).
    void fpsTextChanged(int view, const QString& text);
    // Position `view` (0 to 2) has shown no frame for `seconds` whole seconds while its phone is
    // ready (counted up each second); 0 when a frame arrives or the connection is no longer ready.
    void streamStale(int view, int seconds);
    // A complete message was taken off slot `slot` (0 to 2), shown or not.
    void messageProcessed(int slot, int viewIndex, bool closeRequest);
    // A decoded frame of slot `slot` became its last image (also when shown nowhere); emitted just
    // before its showImage. For measurement.
    void frameDecoded(int slot, int viewIndex, std::int64_t lastByteNs);
    // A decoded frame of slot `slot` is shown at position `view` (0 to 2); emitted with its showImage.
    // `lastByteNs` is when its last byte arrived, on this master's clock.
    void frameShown(int slot, int view, const QImage& image, std::int64_t lastByteNs);
    // Slot `slot`'s connection ended (failed, cancelled or replaced by a newer one).
    void streamEnded(int slot);

private:
    struct Job {
        MvcMsgHeader header;
        QByteArray payload;
        std::int64_t lastByteNs = 0;
        std::uint64_t generation = 0;
    };
    struct RxState {
        QPointer<TcpConnection> conn;
        QString peer; // address and port, for diagnostics
        std::int64_t acceptedNs = 0;
        std::int64_t lastBytesNs = 0;
        bool headerSeen = false;
        MvcMessageAssembler assembler;
        MvcFpsMeter fps;
        std::uint64_t generation = 0;
        // Decoding: one job in flight; a newer frame replaces one still waiting.
        bool busy = false;
        std::optional<Job> pending;
        // The connection ended while its frames were still being decoded: streamEnded follows them.
        bool endPending = false;
        std::shared_ptr<MvcFrameDecoder> decoder = std::make_shared<MvcFrameDecoder>();
    };

    void startDecodingThreads();
    void newConnectionsPending();
    void rxConnChangedState(int slot, int state);
    void readAvailable(int slot);
    void processChunk(int slot, QByteArrayView chunk);
    void submit(int slot, Job job);
    // Any thread: decodes and reports a frame that is skipped.
    static QImage decodeFrame(MvcFrameDecoder& decoder, int slot, const Job& job);
    void decoded(int slot, std::uint64_t generation, int viewIndex, std::int64_t lastByteNs, QImage image);
    void listenerAdvertisedEndpointChanged(const QString& name, const QString& type, const QString& domain,
                                           bool added);

public:
    // Now on this master's clock (monotonic nanoseconds, or the clock a test set).
    std::int64_t now() const { return m_clock(); }

private:
    Options m_options;
    std::function<std::int64_t()> m_clock;
    MvcSecretCode m_code;
    MvcSlotTable m_table;
    std::array<RxState, MvcSlotTable::kSlots> m_rx;
    std::array<QImage, MvcSlotTable::kSlots> m_livePreviewImage;
    // Per position: when a frame was last shown there, and the stale seconds last reported.
    std::array<std::optional<std::int64_t>, MvcSlotTable::kSlots> m_lastShownNs;
    std::array<int, MvcSlotTable::kSlots> m_staleSeconds{};
    void setStaleSeconds(int view, int seconds);
    QTcpServer* m_listener = nullptr;
    QTimer* m_timeoutTimer = nullptr;
    MdnsResponder* m_responder = nullptr;
    bool m_started = false;
    std::int32_t m_listenerAdvertisedEndpointChangedCntr = 0;
    QString m_advertisedEndpointString;
    QThreadPool m_pool;
};

} // namespace qr

Q_DECLARE_METATYPE(qr::MvcIndicatorColour)
