// Quitting, closing the window or asking for a new playlist while a pass runs: the running pass is
// abandoned at its next file or copy piece, the engine goes away without waiting for the pass to
// finish, and nothing half-written is left behind.
#include "player/PlayerEngine.h"

#include "../decode/DecodeFixtures.h"
#include "FakeDisplay.h"
#include "PlayerFixtures.h"

#include <QDeadlineTimer>
#include <QDir>
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

QTEST_MAIN(TestPassAbandoned)
#include "tst_PassAbandoned.moc"
