// Quitting, closing the window or asking for a new playlist while a pass runs: the running pass is
// abandoned at its next file or copy piece, the engine goes away without waiting for the pass to
// finish, and nothing half-written is left behind. The same for the settling of decompressed
// frames that goes on after the playlist is handed over.
#include "player/PlayerEngine.h"

#include "../decode/DecodeFixtures.h"
#include "FakeDisplay.h"
#include "PlayerFixtures.h"
#include "decode/Lz4FrameEncoder.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QHash>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using namespace qr;

namespace {

constexpr int kPhotos = 24;

// Downloads holding a FIFO and a device under names the pass looks for, and a container of large
// photos that takes a while to unpack.
QByteArray prepare(const QString& dir)
{
    fixtures::KroxContainer container;
    container.setNumber = 5;
    for (int i = 0; i < kPhotos; ++i) {
        QByteArray photo(4 << 20, Qt::Uninitialized);
        QRandomGenerator(static_cast<quint32>(i))
            .fillRange(reinterpret_cast<quint32*>(photo.data()), photo.size() / 4);
        container.entries.append({1, photo});
    }
    const QByteArray bytes = container.bytes();
    if (!fixtures::writeFile(dir + "/big.krox", bytes) ||
        ::mkfifo(QFile::encodeName(dir + "/x.krox").constData(), 0600) != 0 ||
        ::mkfifo(QFile::encodeName(dir + "/x.rgb2").constData(), 0600) != 0 ||
        !QFile::link("/dev/zero", dir + "/y.rgb2") || !QFile::link("/dev/urandom", dir + "/y.krox"))
        return {};
    return bytes;
}

QStringList entries(const QString& dir, const QString& pattern)
{
    return QDir(dir).entryList({pattern}, QDir::Files | QDir::Hidden);
}

// Waits until the pass has begun writing photos out of the container.
bool unpacking(const QString& dir)
{
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired()) {
        if (!entries(dir, "krox_*").isEmpty() || !entries(dir, ".krox_*").isEmpty())
            return true;
        QTest::qWait(5);
    }
    return false;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestPassAbandoned : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void engineGoesAwayDuringPass();
    void newPassAbandonsRunningOne();
    void settlingStopsWithBothFilesWhole_data();
    void settlingStopsWithBothFilesWhole();
};

void TestPassAbandoned::engineGoesAwayDuringPass()
{
    QTemporaryDir dir;
    const QByteArray container = prepare(dir.path());
    QVERIFY(!container.isEmpty());
    fixtures::FakeDisplay display;
    auto engine = std::make_unique<PlayerEngine>(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = engine.get();
    display.state = &engine->state();
    engine->state()._pathToDownloadsDir = dir.path();
    engine->generatePlaylistButtonAction();
    QVERIFY(unpacking(dir.path()));
    engine.reset();
    // The pass stopped part way: not every photo was written, and none partly.
    QVERIFY(entries(dir.path(), "krox_*").size() < kPhotos);
    QCOMPARE(entries(dir.path(), ".*.part"), QStringList());
    QCOMPARE(display.passesFinished, 0);
    QCOMPARE(readAll(dir.filePath("big.krox")), container);
}

void TestPassAbandoned::newPassAbandonsRunningOne()
{
    QTemporaryDir dir;
    QVERIFY(!prepare(dir.path()).isEmpty());
    fixtures::FakeDisplay display;
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    engine.state()._pathToDownloadsDir = dir.path();
    engine.generatePlaylistButtonAction();
    QVERIFY(unpacking(dir.path()));
    engine.generatePlaylistButtonAction();
    // Only the second pass reports, and it unpacked everything.
    QTRY_COMPARE_WITH_TIMEOUT(display.passesFinished, 1, 120000);
    engine.waitForPool();
    QCOMPARE(entries(dir.path(), "krox_*").size(), kPhotos);
    QCOMPARE(entries(dir.path(), ".*.part"), QStringList());
    QCOMPARE(display.passesFinished, 1);
}

void TestPassAbandoned::settlingStopsWithBothFilesWhole_data()
{
    QTest::addColumn<bool>("quit");
    QTest::newRow("quit") << true;
    QTest::newRow("escape") << false;
}

void TestPassAbandoned::settlingStopsWithBothFilesWhole()
{
    QFETCH(bool, quit);
    constexpr int kFrames = 8;
    QTemporaryDir dir;
    QHash<QString, QByteArray> frames; // "<name>.rgb" -> decoded bytes
    QHash<QString, QByteArray> encoded;
    for (int i = 1; i <= kFrames; ++i) {
        const QString rgb = QStringLiteral("kro_07_%1_01.rgb").arg(i, 3, 10, QLatin1Char('0'));
        frames.insert(rgb, fixtures::pattern(300'000 + i, static_cast<std::uint32_t>(i)));
        encoded.insert(rgb, Lz4FrameEncoder::encode(frames.value(rgb), 4096));
        QVERIFY(fixtures::writeFile(dir.filePath(rgb + '2'), encoded.value(rgb)));
    }
    const auto bothWhole = [&] {
        for (auto it = frames.cbegin(); it != frames.cend(); ++it) {
            QCOMPARE(readAll(dir.filePath(it.key())), it.value());
            QCOMPARE(readAll(dir.filePath(it.key() + '2')), encoded.value(it.key()));
        }
        QCOMPARE(entries(dir.path(), ".*.part"), QStringList());
    };
    fixtures::FakeDisplay display;
    auto engine = std::make_unique<PlayerEngine>(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = engine.get();
    display.state = &engine->state();
    engine->state()._pathToDownloadsDir = dir.path();
    engine->pipeline().settler().hold(true);
    engine->generatePlaylistButtonAction();
    // Handed over while the settling waits: every frame written, every source still there.
    QTRY_COMPARE_WITH_TIMEOUT(display.passesFinished, 1, 60000);
    bothWhole();
    if (QTest::currentTestFailed())
        return;
    if (quit) {
        engine.reset();
    } else {
        // No pass runs any more, so Escape reports nothing to stop; the settling stops all the same.
        QVERIFY(!engine->stopPlaylistPass());
        engine->pipeline().settler().hold(false);
        engine->waitForPool();
    }
    bothWhole();
}

QTEST_MAIN(TestPassAbandoned)
#include "tst_PassAbandoned.moc"
