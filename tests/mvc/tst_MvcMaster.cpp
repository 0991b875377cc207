#include "PhoneSim.h"
#include "decode/Lz4FrameEncoder.h"
#include "mvc/MvcMaster.h"

#include <QColorSpace>
#include <QLoggingCategory>
#include <QMutex>
#include <QProcess>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

#include <atomic>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using qr::MvcIndicatorColour;
using qr::MvcMaster;
using qr::MvcMsgHeader;
using qr::PhoneSim;

namespace {

QByteArray header(std::uint8_t ver, std::uint8_t posOrient, std::uint32_t len, int w, int h)
{
    MvcMsgHeader hd;
    hd.ver = ver;
    hd.posOrient = posOrient;
    hd.mvcLen = len;
    hd.width = std::uint16_t(w);
    hd.height = std::uint16_t(h);
    const auto b = hd.serialize();
    return QByteArray(reinterpret_cast<const char*>(b.data()), 16);
}

QByteArray frameMessage(std::uint8_t posOrient, int w, int h, int n = 0)
{
    const QByteArray payload = qr::Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(w, h, n));
    return header(1, posOrient, std::uint32_t(payload.size()), w, h) + payload;
}

// The RGB of the test pattern at (x, y) as a QRgb.
QRgb patternAt(const QByteArray& rgb, int w, int x, int y)
{
    const auto* p = reinterpret_cast<const unsigned char*>(rgb.constData()) + (qsizetype(y) * w + x) * 3;
    return qRgb(p[0], p[1], p[2]);
}

// Messages of the "quintaray.mvc" category, captured while an instance is alive.
class MvcLogCapture {
public:
    MvcLogCapture()
    {
        s_lines = {};
        m_previous = qInstallMessageHandler(&MvcLogCapture::handle);
    }
    ~MvcLogCapture()
    {
        qInstallMessageHandler(m_previous);
        QLoggingCategory::setFilterRules(QString());
    }
    QStringList lines() const
    {
        const QMutexLocker lock(&s_mutex);
        return s_lines;
    }
    bool has(const QString& text) const
    {
        const QStringList all = lines();
        return std::any_of(all.begin(), all.end(), [&](const QString& l) { return l.contains(text); });
    }

private:
    static void handle(QtMsgType, const QMessageLogContext& context, const QString& message)
    {
        if (context.category && QByteArrayView(context.category) == "quintaray.mvc") {
            const QMutexLocker lock(&s_mutex);
            s_lines.append(message);
        }
    }
    static inline QMutex s_mutex;
    static inline QStringList s_lines;
    QtMessageHandler m_previous = nullptr;
};

// Makes `address` usable as a source address: loopback always; other addresses are added to the
// loopback interface of the test's private network namespace, which holds nothing else. With
// `linkAddress`, the kernel's neighbour table also names that link-layer address for it, as it does
// for a device on the local link (the entry sits on a virtual Ethernet pair of its own: on loopback
// it would capture the address's traffic). False where that cannot be done.
bool prepareSourceAddress(const QString& address, const QString& linkAddress)
{
    const QHostAddress a(address);
    if (a.isLoopback() && linkAddress.isEmpty())
        return true;
    if (!qEnvironmentVariableIsSet("QR_IN_NETNS"))
        return false;
    const auto ip = [](const QString& args) {
        QProcess p;
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral("ip"), args.split(QLatin1Char(' ')));
        return p.waitForFinished(5000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    };
    const bool v6 = a.protocol() == QAbstractSocket::IPv6Protocol;
    ip(v6 ? QStringLiteral("addr replace %1/128 dev lo nodad").arg(address)
          : QStringLiteral("addr replace %1/32 dev lo").arg(address));
    if (!linkAddress.isEmpty()) {
        ip(QStringLiteral("link add qrn0 type veth peer name qrn1"));
        if (!ip(QStringLiteral("link set qrn0 up")) ||
            !ip(QStringLiteral("%1 neigh replace %2 lladdr %3 dev qrn0 nud permanent")
                    .arg(v6 ? QStringLiteral("-6") : QStringLiteral("-4"), address, linkAddress)))
            return false;
    }
    return QTest::qWaitFor([&] { return QTcpSocket().bind(a); }, 2000);
}

struct FakeClock {
    std::shared_ptr<std::atomic<std::int64_t>> ns =
        std::make_shared<std::atomic<std::int64_t>>(1'000'000'000);
    std::function<std::int64_t()> fn() const
    {
        auto p = ns;
        return [p] {
            return p->load();
        };
    }
};

} // namespace

class TestMvcMaster : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void shownByViewIndex_data();
    void shownByViewIndex();
    void fpsIsAverageSinceFirstMessage();
    void fpsFromFirstWholeMessage();
    void stoppedStreamIsMarkedStale();
    void closeRequestFreesSlot();
    void shutterReachesOwnerOfPosition();
    void badPayloadKeepsPreviousImage();
    void hostileHeadersCancel_data();
    void hostileHeadersCancel();
    void newConnectionDiscardsLeftoverBytes();
    void reusedSlotCountsFpsFromItsOwnConnection();
    void phoneMovesToAnotherPosition();
    void duplicateRule_data();
    void duplicateRule();
    void acceptResumesAfterDescriptorsRunOut();
    void survivesDescriptorsRunningOutWhileStreaming();
    void timeouts_data();
    void timeouts();
    void slotsHeldByIdlePeersComeBack();
    void positionBelongsToFirstClaimant();
    void diagnosticsOnlyWhenEnabled();

private:
    // A raw client that has taken a slot and seen it turn ready.
    std::unique_ptr<QTcpSocket> connectClient();

    std::unique_ptr<MvcMaster> m_master;
    FakeClock m_clock;
};

void TestMvcMaster::init()
{
    m_master = std::make_unique<MvcMaster>();
    MvcMaster::Options o;
    o.advertise = false;
    m_master->setOptions(o);
    m_master->setClock(m_clock.fn());
    QVERIFY(m_master->parseSecretCodeInputString(QStringLiteral("407193")));
    QVERIFY(m_master->setupMvcMaster());
    QVERIFY(m_master->serverPort() != 0);
}

void TestMvcMaster::cleanup()
{
    m_master.reset();
}

std::unique_ptr<QTcpSocket> TestMvcMaster::connectClient()
{
    // New connections less than 1 ms apart are one dual-stack race.
    m_clock.ns->fetch_add(10'000'000);
    QSignalSpy colours(m_master.get(), &MvcMaster::indicatorChanged);
    auto s = std::make_unique<QTcpSocket>();
    s->connectToHost(QHostAddress::LocalHost, m_master->serverPort());
    if (!s->waitForConnected(5000))
        return nullptr;
    if (!QTest::qWaitFor([&] { return !colours.isEmpty(); }, 5000))
        return nullptr;
    return s;
}

void TestMvcMaster::shownByViewIndex_data()
{
    QTest::addColumn<int>("posOrient");
    QTest::addColumn<int>("shownView"); // -1: shown nowhere
    QTest::addColumn<int>("shownWidth");
    QTest::addColumn<int>("shownHeight");

    QTest::newRow("view index 2, orientation 1") << 0x21 << 2 << 640 << 480;
    QTest::newRow("view index 0, orientation 0 is turned") << 0x00 << 0 << 480 << 640;
    QTest::newRow("view index 1, orientation 5") << 0x15 << 1 << 640 << 480;
    QTest::newRow("view index 3 is shown nowhere") << 0x31 << -1 << 640 << 480;
    QTest::newRow("view index 15, orientation 0") << 0xF0 << -1 << 480 << 640;
}

void TestMvcMaster::shownByViewIndex()
{
    QFETCH(int, posOrient);
    QFETCH(int, shownView);
    QFETCH(int, shownWidth);
    QFETCH(int, shownHeight);
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy shown(m_master.get(), &MvcMaster::showImage);
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    QSignalSpy fps(m_master.get(), &MvcMaster::fpsTextChanged);
    m_clock.ns->fetch_add(1); // the first chunk starts the clock
    const QByteArray msg = frameMessage(std::uint8_t(posOrient), 640, 480, 5);
    client->write(msg.first(10)); // the header arrives in two pieces
    client->flush();
    QTest::qWait(20);
    m_clock.ns->fetch_add(100'000'000);
    client->write(msg.mid(10));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 1, 5000);
    const QImage image = m_master->livePreviewImage(0);
    QCOMPARE(image.width(), shownWidth);
    QCOMPARE(image.height(), shownHeight);
    QCOMPARE(image.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    if (shownView < 0) {
        QCOMPARE(shown.size(), 0);
        QCOMPARE(fps.size(), 0);
        for (int v = 0; v < 3; ++v)
            QCOMPARE(m_master->rxConnForView(v), 0);
    } else {
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown[0][0].toInt(), shownView);
        QCOMPARE(m_master->rxConnForView(shownView), 1);
        QCOMPARE(fps.size(), 1);
        QCOMPARE(fps[0][0].toInt(), shownView);
        QCOMPARE(fps[0][1].toString(), QStringLiteral("10.0 fps")); // 1 message in 0.1 s
    }
    // Pixels land where the quarter turn puts them: source (x, y) -> (H - 1 - y, x).
    const QByteArray rgb = PhoneSim::testPatternRgb(640, 480, 5);
    const bool turned = (posOrient & 0x0F) == 0;
    for (const QPoint& src :
         {QPoint(0, 0), QPoint(12, 3), QPoint(100, 400), QPoint(639, 479), QPoint(500, 20)}) {
        const QPoint dst = turned ? QPoint(479 - src.y(), src.x()) : src;
        QCOMPARE(image.pixel(dst) | 0xFF000000, patternAt(rgb, 640, src.x(), src.y()));
    }
}

void TestMvcMaster::fpsIsAverageSinceFirstMessage()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    QSignalSpy fps(m_master.get(), &MvcMaster::fpsTextChanged);
    const QByteArray msg = frameMessage(0x11, 64, 48);
    const std::int64_t t0 = m_clock.ns->load();
    for (int i = 0; i < 30; ++i) {
        // Message i completes at t0 + i * 2 s / 29; the last at t0 + 2 s.
        m_clock.ns->store(t0 + std::int64_t(i) * 2'000'000'000 / 29);
        client->write(msg);
        QTRY_COMPARE_WITH_TIMEOUT(processed.size(), i + 1, 5000);
    }
    QCOMPARE(fps.last()[0].toInt(), 1);
    QCOMPARE(fps.last()[1].toString(), QStringLiteral("15.0 fps"));
    QCOMPARE(m_master->slotTable().slot(0).cntr, 30);
}

void TestMvcMaster::fpsFromFirstWholeMessage()
{
    // The connection is accepted at the clock's time; its first message arrives whole 1/30 s later.
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    QSignalSpy fps(m_master.get(), &MvcMaster::fpsTextChanged);
    m_clock.ns->fetch_add(1'000'000'000 / 30);
    client->write(frameMessage(0x11, 64, 48));
    QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 1, 5000);
    QCOMPARE(fps.size(), 1);
    QCOMPARE(fps[0][0].toInt(), 1);
    QCOMPARE(fps[0][1].toString(), QStringLiteral("30.0 fps"));
    // The next ones count from the same start: 2 messages in 2/30 s.
    m_clock.ns->fetch_add(1'000'000'000 / 30);
    client->write(frameMessage(0x11, 64, 48));
    QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 2, 5000);
    QCOMPARE(fps.last()[1].toString(), QStringLiteral("30.0 fps"));
}

void TestMvcMaster::stoppedStreamIsMarkedStale()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    QSignalSpy stale(m_master.get(), &MvcMaster::streamStale);
    QSignalSpy colours(m_master.get(), &MvcMaster::indicatorChanged);
    client->write(frameMessage(0x21, 64, 48));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 1, 5000);
    const int paintedBefore = int(colours.size());
    const std::int64_t shownAt = m_clock.ns->load();
    auto at = [&](std::int64_t sinceShownNs) {
        m_clock.ns->store(shownAt + sinceShownNs);
        m_master->checkStaleStreams();
    };

    at(1'999'000'000);
    QCOMPARE(stale.size(), 0);
    QCOMPARE(m_master->staleSeconds(2), 0);
    at(2'000'000'000);
    QCOMPARE(stale.size(), 1);
    QCOMPARE(stale[0][0].toInt(), 2); // the phone's position, not its slot
    QCOMPARE(stale[0][1].toInt(), 2);
    at(2'600'000'000);
    QCOMPARE(stale.size(), 1); // counted in whole seconds
    at(5'100'000'000);
    QCOMPARE(stale.last()[1].toInt(), 5);
    QCOMPARE(m_master->staleSeconds(2), 5);
    for (int v : {0, 1})
        QCOMPARE(m_master->staleSeconds(v), 0); // nobody asked for them
    QCOMPARE(colours.size(), paintedBefore);    // the indicator keeps its state colour

    // The next frame ends the mark at once.
    client->write(frameMessage(0x21, 64, 48, 1));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 2, 5000);
    QCOMPARE(stale.last()[0].toInt(), 2);
    QCOMPARE(stale.last()[1].toInt(), 0);
    QCOMPARE(m_master->staleSeconds(2), 0);

    // A connection that is no longer ready is not marked: its indicator says what happened.
    const std::int64_t lastFrame = m_clock.ns->load();
    client->abort();
    QTRY_VERIFY_WITH_TIMEOUT(!m_master->slotTable().slot(0).ready, 5000);
    m_clock.ns->store(lastFrame + 10'000'000'000);
    m_master->checkStaleStreams();
    QCOMPARE(m_master->staleSeconds(2), 0);
}

void TestMvcMaster::closeRequestFreesSlot()
{
    auto client = connectClient();
    QVERIFY(client);
    QVERIFY(m_master->slotTable().slot(0).ready);
    QSignalSpy colours(m_master.get(), &MvcMaster::indicatorChanged);
    client->write(frameMessage(0x21, 32, 24) + PhoneSim::closeRequest());
    // The frame and the close may be read apart, each changing the indicator: the last change is
    // the close's.
    QTRY_VERIFY_WITH_TIMEOUT(!colours.isEmpty() &&
                                 colours.last()[1].value<MvcIndicatorColour>() == MvcIndicatorColour::Orange,
                             5000);
    QCOMPARE(colours.last()[0].toInt(), 2); // painted at the phone's own position
    QVERIFY(m_master->slotTable().slot(0).waitingForRestart);
    QVERIFY(!m_master->slotTable().slot(0).ready);
    QTRY_VERIFY_WITH_TIMEOUT(client->state() == QAbstractSocket::UnconnectedState, 5000);
    // Slots 2 and 3 were never used: they come first.
    auto second = connectClient();
    QVERIFY(second);
    QVERIFY(m_master->slotTable().slot(1).filled);
    QVERIFY(m_master->slotTable().slot(0).waitingForRestart);
}

void TestMvcMaster::shutterReachesOwnerOfPosition()
{
    auto a = connectClient(); // slot 1
    auto b = connectClient(); // slot 2
    QVERIFY(a && b);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    b->write(frameMessage(0x01, 32, 24)); // slot 2 asks for position 1
    QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 1, 5000);
    QCOMPARE(m_master->rxConnForView(0), 2);
    QVERIFY(!m_master->remoteShutterButtonAction(1)); // nobody asked for position 2
    QVERIFY(m_master->remoteShutterButtonAction(0));
    QTRY_COMPARE_WITH_TIMEOUT(b->bytesAvailable(), qint64(8), 5000);
    QCOMPARE(b->readAll(), QByteArray::fromHex("0400070109030100"));
    QTest::qWait(50);
    QCOMPARE(a->bytesAvailable(), qint64(0));
}

void TestMvcMaster::badPayloadKeepsPreviousImage()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    client->write(frameMessage(0x01, 64, 48));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 1, 5000);
    const QImage first = m_master->livePreviewImage(0);
    // Not LZ4; then a frame that decodes to the wrong size; then a good one again.
    const QByteArray junk(100, 'z');
    const QByteArray wrongSize = qr::Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(64, 47, 1));
    client->write(header(1, 0x01, std::uint32_t(junk.size()), 64, 48) + junk);
    client->write(header(1, 0x01, std::uint32_t(wrongSize.size()), 64, 48) + wrongSize);
    QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 3, 5000);
    QTest::qWait(50);
    QCOMPARE(decoded.size(), 1);
    QCOMPARE(m_master->livePreviewImage(0).cacheKey(), first.cacheKey());
    QVERIFY(m_master->slotTable().slot(0).ready); // skipped, not cancelled
    client->write(frameMessage(0x01, 64, 48, 2));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 2, 5000);
}

void TestMvcMaster::hostileHeadersCancel_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("4 GB declared length") << header(1, 0, 0xFFFFFFFFU, 640, 480);
    QTest::newRow("zero width") << header(1, 0, 10, 0, 480);
    QTest::newRow("zero height") << header(1, 0, 10, 640, 0);
}

void TestMvcMaster::hostileHeadersCancel()
{
    QFETCH(QByteArray, bytes);
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy colours(m_master.get(), &MvcMaster::indicatorChanged);
    client->write(bytes + QByteArray(4096, 'x'));
    QTRY_VERIFY_WITH_TIMEOUT(!colours.isEmpty(), 5000);
    QCOMPARE(colours.last()[1].value<MvcIndicatorColour>(), MvcIndicatorColour::Orange);
    QVERIFY(m_master->slotTable().slot(0).waitingForRestart);
    QCOMPARE(m_master->bufferedBytes(0), 0);
    QTRY_VERIFY_WITH_TIMEOUT(client->state() == QAbstractSocket::UnconnectedState, 5000);
}

void TestMvcMaster::newConnectionDiscardsLeftoverBytes()
{
    auto a = connectClient();
    auto b = connectClient();
    auto c = connectClient();
    QVERIFY(a && b && c);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    const QByteArray msg = frameMessage(0x01, 32, 24);
    a->write(msg.first(msg.size() - 5)); // half a message left behind
    a->flush();
    QTRY_VERIFY_WITH_TIMEOUT(m_master->bufferedBytes(0) > 0, 5000);
    // The phone goes away without finishing; the platform reports the close.
    a->close();
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).waitingForRestart, 5000);
    auto d = connectClient();
    QVERIFY(d);
    QCOMPARE(m_master->bufferedBytes(0), 0);
    d->write(msg);
    QTRY_COMPARE_WITH_TIMEOUT(processed.size(), 1, 5000);
    QCOMPARE(processed[0][0].toInt(), 0);
}

void TestMvcMaster::reusedSlotCountsFpsFromItsOwnConnection()
{
    auto a = connectClient();
    auto b = connectClient();
    auto c = connectClient();
    QVERIFY(a && b && c);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    QSignalSpy fps(m_master.get(), &MvcMaster::fpsTextChanged);
    const QByteArray msg = frameMessage(0x01, 32, 24);
    // The first phone sends 4 messages over 1.5 s, then goes away.
    for (int i = 0; i < 4; ++i) {
        m_clock.ns->fetch_add(500'000'000);
        a->write(msg);
        QTRY_COMPARE_WITH_TIMEOUT(processed.size(), i + 1, 5000);
    }
    a->close();
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).waitingForRestart, 5000);
    m_clock.ns->fetch_add(10'000'000'000);
    auto d = connectClient();
    QVERIFY(d);
    fps.clear();
    // Its successor in slot 1: one message, 0.1 s from its first chunk to its last.
    d->write(msg.first(10));
    QTRY_VERIFY_WITH_TIMEOUT(m_master->bufferedBytes(0) > 0, 5000);
    m_clock.ns->fetch_add(100'000'000);
    d->write(msg.mid(10));
    QTRY_COMPARE_WITH_TIMEOUT(fps.size(), 1, 5000);
    QCOMPARE(fps[0][0].toInt(), 0);
    QCOMPARE(fps[0][1].toString(), QStringLiteral("10.0 fps"));
    QCOMPARE(m_master->slotTable().slot(0).cntr, 1);
}

void TestMvcMaster::phoneMovesToAnotherPosition()
{
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy shown(m_master.get(), &MvcMaster::showImage);
    QSignalSpy fps(m_master.get(), &MvcMaster::fpsTextChanged);
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    m_clock.ns->fetch_add(1);
    client->write(frameMessage(0x01, 32, 24));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 1, 5000);
    m_clock.ns->fetch_add(50'000'000);
    QSignalSpy moved(m_master.get(), &MvcMaster::indicatorChanged);
    client->write(frameMessage(0x11, 32, 24, 1));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 2, 5000);
    // The ready colour moves to position 2 with the message.
    QCOMPARE(moved.size(), 1);
    QCOMPARE(moved[0][0].toInt(), 1);
    QCOMPARE(moved[0][1].value<MvcIndicatorColour>(), MvcIndicatorColour::Green);
    QCOMPARE(shown[0][0].toInt(), 0);
    QCOMPARE(shown[1][0].toInt(), 1);
    QCOMPARE(fps.last()[0].toInt(), 1);
    QCOMPARE(m_master->rxConnForView(0), 1); // never cleared
    QCOMPARE(m_master->rxConnForView(1), 1);
    // Its indicator colour follows: the close request paints position 2.
    QSignalSpy colours(m_master.get(), &MvcMaster::indicatorChanged);
    client->write(PhoneSim::closeRequest());
    QTRY_VERIFY_WITH_TIMEOUT(!colours.isEmpty(), 5000);
    QCOMPARE(colours.last()[0].toInt(), 1);
}

void TestMvcMaster::duplicateRule_data()
{
    QTest::addColumn<QString>("first");  // source address of the first connection
    QTest::addColumn<QString>("second"); // of the second, 0.5 ms later
    QTest::addColumn<QString>("link");   // link-layer address the neighbour table gives both, if any
    QTest::addColumn<bool>("secondKept");
    QTest::newRow("one IPv6 peer twice") << "::1"
                                         << "::1" << QString() << false;
    QTest::newRow("two IPv6 peers") << "fd00::2"
                                    << "fd00::3" << QString() << true;
    QTest::newRow("two IPv6 addresses of one phone")
        << "fd00::4"
        << "fd00::5" << QStringLiteral("02:00:5e:10:00:01") << false;
    QTest::newRow("IPv4 and IPv6 of one phone") << "127.0.0.1"
                                                << "::1" << QString() << false;
    QTest::newRow("IPv6 and IPv4 of one phone") << "::1"
                                                << "127.0.0.1" << QString() << false;
    QTest::newRow("one IPv4 peer twice") << "127.0.0.1"
                                         << "127.0.0.1" << QString() << false;
    QTest::newRow("two IPv4 peers") << "127.0.0.2"
                                    << "127.0.0.3" << QString() << true;
}

void TestMvcMaster::duplicateRule()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QFETCH(QString, link);
    QFETCH(bool, secondKept);
    if (!prepareSourceAddress(first, link) || !prepareSourceAddress(second, link))
        QSKIP("cannot add addresses to loopback outside a private network namespace");
    const auto connectFrom = [this](QTcpSocket& s, const QString& source) {
        const QHostAddress from(source);
        if (!s.bind(from))
            return false;
        s.connectToHost(from.protocol() == QAbstractSocket::IPv6Protocol ? QHostAddress::LocalHostIPv6
                                                                         : QHostAddress::LocalHost,
                        m_master->serverPort());
        return s.waitForConnected(5000);
    };
    QTcpSocket a;
    QTcpSocket b;
    if (!connectFrom(a, first))
        QSKIP("no IPv6 loopback here");
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).filled, 5000);
    m_clock.ns->fetch_add(500'000);
    QVERIFY(connectFrom(b, second));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_master->slotTable().slot(1).filled || m_master->slotTable().happyEyeballsCntr() > 0, 5000);
    QCOMPARE(m_master->slotTable().slot(1).filled, secondKept);
    QCOMPARE(m_master->slotTable().happyEyeballsCntr(), secondKept ? 0 : 1);
    if (!secondKept)
        QTRY_VERIFY_WITH_TIMEOUT(b.state() == QAbstractSocket::UnconnectedState, 5000);
    QCOMPARE(a.state(), QAbstractSocket::ConnectedState);
    // The same host a moment later is another phone: it gets the next slot.
    m_clock.ns->fetch_add(5'000'000);
    QTcpSocket later;
    QVERIFY(connectFrom(later, first));
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(secondKept ? 2 : 1).filled, 5000);
}

void TestMvcMaster::acceptResumesAfterDescriptorsRunOut()
{
    rlimit original{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int next = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QVERIFY(next >= 0);
    ::close(next);
    rlimit low = original;
    low.rlim_cur = rlim_t(next + 32);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    const auto restore = qScopeGuard([&] {
        for (int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &original);
    });
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    QCOMPARE(errno, EMFILE);
    // The phone's side of the connection takes the last free descriptor; the master has none left.
    ::close(filler.back());
    filler.pop_back();
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, m_master->serverPort());
    QVERIFY(phone.waitForConnected(5000)); // the kernel completes it; it waits in the backlog
    QTest::qWait(500);
    QVERIFY(!m_master->slotTable().slot(0).filled);
    for (int fd : filler)
        ::close(fd);
    filler.clear();
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).filled, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).ready, 5000);
}

void TestMvcMaster::survivesDescriptorsRunningOutWhileStreaming()
{
    // Three phones connect while the process has a single free descriptor: the first is accepted
    // and streams, the others wait in the backlog until descriptors come back. Nothing the master
    // does for a connection or a frame may need a descriptor of its own (a new thread's event loop
    // needs one: without it the process ends).
    std::vector<std::unique_ptr<QTcpSocket>> phones;
    for (int i = 0; i < 3; ++i) {
        phones.push_back(std::make_unique<QTcpSocket>());
        phones.back()->connectToHost(QHostAddress::LocalHost, m_master->serverPort());
        QVERIFY(phones.back()->waitForConnected(5000)); // in the backlog; the master has not run
    }
    rlimit original{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &original), 0);
    const int next = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    QVERIFY(next >= 0);
    ::close(next);
    rlimit low = original;
    low.rlim_cur = rlim_t(next + 32);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> filler;
    const auto restore = qScopeGuard([&] {
        for (int fd : filler)
            ::close(fd);
        ::setrlimit(RLIMIT_NOFILE, &original);
    });
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
        filler.push_back(fd);
    QCOMPARE(errno, EMFILE);
    ::close(filler.back());
    filler.pop_back();
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    m_clock.ns->fetch_add(10'000'000);
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).ready, 5000);
    QVERIFY(!m_master->slotTable().slot(1).filled);
    for (int n = 0; n < 3; ++n)
        phones[0]->write(frameMessage(0x01, 64, 48, n));
    QTRY_VERIFY_WITH_TIMEOUT(decoded.size() >= 1, 5000);
    // Descriptors come back: a waiting phone is served too, and its frames decoded. (The two accepted
    // together are one connection race by the clock; only the first of them is kept.)
    m_clock.ns->fetch_add(10'000'000);
    for (int fd : filler)
        ::close(fd);
    filler.clear();
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(1).filled, 5000);
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(1).ready, 5000);
    phones[1]->write(frameMessage(0x11, 64, 48, 1));
    QTRY_VERIFY_WITH_TIMEOUT(decoded.size() >= 2, 5000);
}

void TestMvcMaster::timeouts_data()
{
    // Before each check: what the peer sends (0 nothing, 1 a whole frame, 2 ten bytes of a header),
    // how far the clock then moves (ms), and whether the connection is still open after the check.
    QTest::addColumn<QList<int>>("send");
    QTest::addColumn<QList<int>>("advanceMs");
    QTest::addColumn<QList<bool>>("open");
    QTest::newRow("silent: closed 5 s after the accept")
        << QList<int>{0, 0} << QList<int>{4999, 2} << QList<bool>{true, false};
    QTest::newRow("part of a header is no header")
        << QList<int>{2, 0} << QList<int>{4000, 1001} << QList<bool>{true, false};
    QTest::newRow("a valid header, then silence: closed after 15 s")
        << QList<int>{1, 0} << QList<int>{14999, 2} << QList<bool>{true, false};
    QTest::newRow("a streaming phone stays")
        << QList<int>{1, 1, 1} << QList<int>{10000, 10000, 10000} << QList<bool>{true, true, true};
}

void TestMvcMaster::timeouts()
{
    QFETCH(QList<int>, send);
    QFETCH(QList<int>, advanceMs);
    QFETCH(QList<bool>, open);
    auto client = connectClient();
    QVERIFY(client);
    QSignalSpy processed(m_master.get(), &MvcMaster::messageProcessed);
    for (qsizetype i = 0; i < send.size(); ++i) {
        if (send[i] == 1) {
            const qsizetype before = processed.size();
            client->write(frameMessage(0x01, 32, 24, int(i)));
            QTRY_VERIFY_WITH_TIMEOUT(processed.size() > before, 5000);
        } else if (send[i] == 2) {
            client->write(header(1, 0x01, 100, 32, 24).left(10));
            QTRY_COMPARE_WITH_TIMEOUT(m_master->bufferedBytes(0), qsizetype(10), 5000);
        }
        m_clock.ns->fetch_add(std::int64_t(advanceMs[i]) * 1'000'000);
        m_master->checkTimeouts();
        if (open[i]) {
            QVERIFY2(!m_master->slotTable().slot(0).waitingForRestart, qPrintable(QString::number(i)));
            QCOMPARE(m_master->liveSocketCount(), 1);
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(client->state() == QAbstractSocket::UnconnectedState, 5000);
            QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).waitingForRestart, 5000);
        }
    }
}

void TestMvcMaster::slotsHeldByIdlePeersComeBack()
{
    // Three connections that never send a header hold every slot, until they are closed.
    std::vector<std::unique_ptr<QTcpSocket>> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(connectClient());
        QVERIFY(idle.back());
    }
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(2).ready, 5000);
    m_clock.ns->fetch_add(MvcMaster::kFirstHeaderTimeoutNs);
    m_master->checkTimeouts();
    for (int k = 0; k < 3; ++k)
        QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(k).waitingForRestart, 5000);
    auto phone = connectClient();
    QVERIFY(phone);
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).ready, 5000);
    QSignalSpy shown(m_master.get(), &MvcMaster::showImage);
    phone->write(frameMessage(0x01, 32, 24));
    QTRY_VERIFY_WITH_TIMEOUT(!shown.isEmpty(), 5000);
}

void TestMvcMaster::positionBelongsToFirstClaimant()
{
    auto a = connectClient(); // slot 1
    auto b = connectClient(); // slot 2
    QVERIFY(a && b);
    QSignalSpy decoded(m_master.get(), &MvcMaster::frameDecoded);
    QSignalSpy shown(m_master.get(), &MvcMaster::showImage);
    a->write(frameMessage(0x01, 32, 24));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 1, 5000);
    // A second connection naming the same position gets neither its shutter nor its picture.
    b->write(frameMessage(0x01, 32, 24));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 2, 5000);
    QCOMPARE(m_master->rxConnForView(0), 1);
    QCOMPARE(shown.size(), 1);
    QVERIFY(m_master->remoteShutterButtonAction(0));
    QTRY_COMPARE_WITH_TIMEOUT(a->bytesAvailable(), qint64(8), 5000);
    QTest::qWait(50);
    QCOMPARE(b->bytesAvailable(), qint64(0));
    // Once the owner's connection ends the position is free: nothing is sent for it until another
    // phone claims it.
    a->write(PhoneSim::closeRequest());
    QTRY_VERIFY_WITH_TIMEOUT(m_master->slotTable().slot(0).waitingForRestart, 5000);
    QCOMPARE(m_master->rxConnForView(0), 0);
    QVERIFY(!m_master->remoteShutterButtonAction(0));
    b->write(frameMessage(0x01, 32, 24, 1));
    QTRY_COMPARE_WITH_TIMEOUT(decoded.size(), 3, 5000);
    QCOMPARE(m_master->rxConnForView(0), 2);
    QCOMPARE(shown.size(), 2);
    QVERIFY(m_master->remoteShutterButtonAction(0));
    QTRY_COMPARE_WITH_TIMEOUT(b->bytesAvailable(), qint64(8), 5000);
}

void TestMvcMaster::diagnosticsOnlyWhenEnabled()
{
    MvcLogCapture log;
    // Silent by default.
    {
        auto quiet = connectClient();
        QVERIFY(quiet);
        quiet->write(PhoneSim::closeRequest());
        QTRY_VERIFY_WITH_TIMEOUT(quiet->state() == QAbstractSocket::UnconnectedState, 5000);
    }
    QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));

    QLoggingCategory::setFilterRules(QStringLiteral("quintaray.mvc.debug=true"));
    auto client = connectClient(); // slot 2: slot 1 waits for a restart
    QVERIFY(client);
    const QString peer = QStringLiteral("127.0.0.1 %1").arg(client->localPort());
    QVERIFY(log.has(QStringLiteral("slot 2 taken by ") + peer));
    QVERIFY(log.has(QStringLiteral("slot 2 ") + peer + QStringLiteral(" -> preparing")));
    QTRY_VERIFY_WITH_TIMEOUT(log.has(QStringLiteral("slot 2 ") + peer + QStringLiteral(" -> ready")), 5000);

    // A frame whose payload does not fill its size is skipped, and said so.
    const QByteArray shortPayload = qr::Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(64, 47, 1));
    client->write(header(1, 0x01, std::uint32_t(shortPayload.size()), 64, 48) + shortPayload);
    QTRY_VERIFY_WITH_TIMEOUT(log.has(QStringLiteral("frame skipped")), 5000);

    client->write(PhoneSim::closeRequest());
    QTRY_VERIFY_WITH_TIMEOUT(log.has(QStringLiteral("slot 2 ") + peer + QStringLiteral(" -> cancelled")),
                             5000);
    QVERIFY(log.has(QStringLiteral("cancelled: close request")));
    // The state change is reported after the reason.
    const QStringList lines = log.lines();
    const auto reason = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
        return l.contains(QStringLiteral("close request"));
    });
    const auto state = std::find_if(lines.begin(), lines.end(), [](const QString& l) {
        return l.contains(QStringLiteral("-> cancelled"));
    });
    QVERIFY(reason < state);
}

QTEST_GUILESS_MAIN(TestMvcMaster)
#include "tst_MvcMaster.moc"
