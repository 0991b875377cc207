#include "player/PhotoCache.h"
#include "player/PlayerEngine.h"
#include "player/SetPreparer.h"

#include "FakeDisplay.h"
#include "PlayerFixtures.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

using namespace qr;

namespace {

constexpr int kW = 3088; // the smallest recognised frame, 3088 x 2320
constexpr int kH = 2320;

// A raw frame of one colour.
QByteArray uniformFrame(int width, int height, QRgb colour)
{
    QByteArray bytes(qsizetype{width} * height * 3, Qt::Uninitialized);
    for (qsizetype i = 0; i < bytes.size(); i += 3) {
        bytes[i] = static_cast<char>(qRed(colour));
        bytes[i + 1] = static_cast<char>(qGreen(colour));
        bytes[i + 2] = static_cast<char>(qBlue(colour));
    }
    return bytes;
}

QRgb frameColour(int set, int photo)
{
    return qRgb(set * 100, photo * 10, 50);
}

QString rawName(int set, int photo)
{
    return QStringLiteral("kro_%1_%2_01.rgb")
        .arg(set, 2, 10, QLatin1Char('0'))
        .arg(photo, 3, 10, QLatin1Char('0'));
}

// The colour of a raw photo (its full bitmap's centre).
QRgb shownColour(const PhotoImage& photo)
{
    const QImage image = photo.fullImage();
    return image.isNull() ? 0 : image.pixel(image.width() / 2, image.height() / 2);
}

// The display copy is a box-filtered reduction: each channel within 3 of the frame's.
bool displayCopyMatches(const PhotoImage& photo, QRgb colour)
{
    const QImage image = photo.displayImage();
    if (image.isNull())
        return false;
    const QRgb c = image.pixel(image.width() / 2, image.height() / 2);
    return std::abs(qRed(c) - qRed(colour)) <= 3 && std::abs(qGreen(c) - qGreen(colour)) <= 3 &&
           std::abs(qBlue(c) - qBlue(colour)) <= 3;
}

// The peak resident memory (VmHWM) reached while `work` runs, above the resident memory before it.
std::int64_t peakResidentGrowthDuring(const std::function<void()>& work)
{
    const auto status = [](const char* field) -> std::int64_t {
        QFile f(QStringLiteral("/proc/self/status"));
        if (!f.open(QIODevice::ReadOnly))
            return std::int64_t{-1};
        for (const QByteArray& line : f.readAll().split('\n')) {
            if (line.startsWith(field))
                return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').front().toLongLong() *
                       1024;
        }
        return std::int64_t{-1};
    };
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1; // the peak cannot be reset
    clear.close();
    const std::int64_t before = status("VmRSS:");
    work();
    return status("VmHWM:") - before;
}

} // namespace

class TestSetPreparation : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void rawFrameShape_data();
    void rawFrameShape();
    void shortRawFrameGivesNothing();
    void rawFrameReadsOnlyItsFrame();
    void rawFrameFromFifoNeverBlocks();
    void rawSetRacesTicks();
    void lateFramesOfOldSetAreDropped();
    void jpegSlotsGetDisplayCopies();
    void setPlayingAgainReusesPreparedPhotos();
    void cacheKeepsWithinBudget();
    void nextSetIsDecodedAhead();
    void setStartsDoNotDecodeTwice();

private:
    QTemporaryDir dir_;
    QStringList set1_;
    QStringList set2_;
};

void TestSetPreparation::initTestCase()
{
    for (int set = 1; set <= 2; ++set) {
        for (int photo = 1; photo <= 10; ++photo) {
            QVERIFY(fixtures::writeFile(dir_.filePath(rawName(set, photo)),
                                        uniformFrame(kW, kH, frameColour(set, photo))));
            (set == 1 ? set1_ : set2_).append(rawName(set, photo));
        }
    }
}

void TestSetPreparation::rawFrameShape_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<QSize>("slotSize");
    QTest::newRow("4032 x 3024 turns to portrait") << 4032 << 3024 << QSize(3024, 4032);
    QTest::newRow("3840 x 2160 stays landscape") << 3840 << 2160 << QSize(3840, 2160);
}

void TestSetPreparation::rawFrameShape()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(QSize, slotSize);
    QByteArray bytes = uniformFrame(width, height, qRgb(1, 2, 3));
    bytes[0] = 10; // the top-left source pixel is (10, 20, 30)
    bytes[1] = 20;
    bytes[2] = 30;
    const QString path = dir_.filePath("frame.rgb");
    QVERIFY(fixtures::writeFile(path, bytes));
    const auto sizes = SetPreparer::recogniseSizes({path}, FrameSize{});
    QCOMPARE(sizes.front(), (FrameSize{width, height}));
    const PhotoImage photo = SetPreparer::prepareRawFrame(path, sizes.front(), QSize(300, 300));
    QCOMPARE(photo.size(), slotSize);
    const QImage full = photo.fullImage();
    // A quarter turn clockwise puts the top-left source pixel at the top right.
    const QPoint marked = slotSize.width() == width ? QPoint(0, 0) : QPoint(height - 1, 0);
    QCOMPARE(full.pixel(marked), qRgb(10, 20, 30));
    QCOMPARE(full.pixel(1, 1), qRgb(1, 2, 3));
    QVERIFY(photo.displayImage().width() <= 300 && photo.displayImage().height() <= 300);
    QCOMPARE(photo.displayImage().size(), slotSize.scaled(300, 300, Qt::KeepAspectRatio));
    QFile::remove(path);
}

void TestSetPreparation::shortRawFrameGivesNothing()
{
    const QString path = dir_.filePath("short.rgb");
    QVERIFY(fixtures::writeFile(path, uniformFrame(64, 2, qRgb(1, 2, 3))));
    // Not a recognised size: the size in force (a full frame) is more than the file holds.
    const auto sizes = SetPreparer::recogniseSizes({path}, FrameSize{kW, kH});
    QCOMPARE(sizes.front(), (FrameSize{kW, kH}));
    QVERIFY(SetPreparer::prepareRawFrame(path, sizes.front(), QSize(100, 100)).isNull());
    QVERIFY(SetPreparer::prepareRawFrame(dir_.filePath("missing.rgb"), sizes.front(), QSize()).isNull());
    QFile::remove(path);
}

// A file much longer than its frame (here sparse, 1 GiB) costs the memory of one frame, not its length.
void TestSetPreparation::rawFrameReadsOnlyItsFrame()
{
    const QString path = dir_.filePath("long.rgb");
    QVERIFY(fixtures::writeFile(path, uniformFrame(kW, kH, qRgb(7, 8, 9))));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(f.resize(std::int64_t{1} << 30));
    f.close();
    const auto sizes = SetPreparer::recogniseSizes({path}, FrameSize{kW, kH});
    QCOMPARE(sizes.front(), (FrameSize{kW, kH}));
    PhotoImage frame;
    PhotoImage preview;
    const std::int64_t growth = peakResidentGrowthDuring([&] {
        frame = SetPreparer::prepareRawFrame(path, sizes.front(), QSize(300, 300));
        preview = SetPreparer::prepareRawPreview(path, FrameSize{kW, kH}, QSize(100, 100));
    });
    if (growth < 0)
        QSKIP("no peak resident memory to read");
    QVERIFY2(growth < std::int64_t{256} << 20, qPrintable(QStringLiteral("grew by %1 MB").arg(growth >> 20)));
    QCOMPARE(shownColour(frame), qRgb(7, 8, 9));
    QVERIFY(displayCopyMatches(preview, qRgb(7, 8, 9)));
    QFile::remove(path);
}

void TestSetPreparation::rawFrameFromFifoNeverBlocks()
{
    const QString path = dir_.filePath("fifo.rgb");
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    QFuture<bool> nothing = QtConcurrent::run([&] {
        return SetPreparer::prepareRawFrame(path, FrameSize{kW, kH}, QSize(100, 100)).isNull() &&
               SetPreparer::prepareRawDisplay(path, FrameSize{kW, kH}, QSize(100, 100)).isNull() &&
               SetPreparer::prepareRawPreview(path, FrameSize{kW, kH}, QSize(100, 100)).isNull();
    });
    const bool returned = QTest::qWaitFor([&] { return nothing.isFinished(); }, 5000);
    // A reader blocked in the FIFO's open is let go by a writer that comes and goes.
    for (int i = 0; i < 200 && !nothing.isFinished(); ++i) {
        const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QTest::qWait(20);
    }
    QFile::remove(path);
    QVERIFY2(returned, "blocked on the FIFO");
    QVERIFY(nothing.result());
}

// Ticks run on the main thread while the pool converts the set: every photo shown is either still
// empty or exactly its own frame, and in the end every slot holds its frame.
void TestSetPreparation::rawSetRacesTicks()
{
    fixtures::FakeDisplay display;
    display.prepared = QSize(120, 160);
    auto timer = std::make_unique<fixtures::ManualTimer>();
    fixtures::ManualTimer* clock = timer.get();
    PlayerEngine engine(&display, std::move(timer));
    display.engine = &engine;
    display.state = &engine.state();

    PlaylistResult result;
    result.symbolicPath = dir_.path();
    result.sortedList = set1_ + set2_;
    result.setIndexes = {0, 9, 10, 19};
    engine.takePlaylist(result);

    // Odd ticks fire at once, even ticks once their own slot has landed; the pool goes on converting
    // the later frames meanwhile.
    int shownFrames = 0;
    QDeadlineTimer deadline(60000);
    while (engine.state()._view1RenderPid < 10 && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        const int next = engine.state()._view1RenderPid + 1;
        if (next % 2 == 0) {
            while (engine.state()._image[static_cast<std::size_t>(next - 1)].isNull() &&
                   !deadline.hasExpired())
                QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        if (clock->fire()) {
            const int photo = engine.state()._view1RenderPid;
            const PhotoImage& shown = display.views[1];
            QVERIFY(photo % 2 == 1 || !shown.isNull());
            if (!shown.isNull()) {
                // Its display copy first; the full frame, once converted, is the same frame.
                ++shownFrames;
                QVERIFY(displayCopyMatches(shown, frameColour(1, photo)));
                if (!shown.fullImage().isNull())
                    QCOMPARE(shownColour(shown), frameColour(1, photo));
            }
        }
    }
    QVERIFY(shownFrames >= 5);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 60000);
    // The full frames follow the display copies into the slots.
    engine.waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(engine.state()._setNumRenderedInView1, 1);
    for (int slot = 1; slot <= 10; ++slot) {
        const PhotoImage& photo = engine.state()._image[static_cast<std::size_t>(slot - 1)];
        QCOMPARE(photo.size(), QSize(kH, kW));
        QCOMPARE(shownColour(photo), frameColour(1, slot));
        QCOMPARE(photo.fullImage().pixel(7, 7), frameColour(1, slot));
    }
    QVERIFY(engine.state()._image[10].isNull());
    QCOMPARE(display.zoomMaximum, (static_cast<float>(kH) - 500.0f) / 500.0f);
    // The side view shows the next set's first frame, fitted.
    QVERIFY(displayCopyMatches(display.views[2], frameColour(2, 1)));
    QVERIFY(display.views[2].size().width() <= 120);
}

void TestSetPreparation::lateFramesOfOldSetAreDropped()
{
    fixtures::FakeDisplay display;
    display.prepared = QSize(60, 80);
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    PlaylistResult result;
    result.symbolicPath = dir_.path();
    result.sortedList = set1_ + set2_;
    result.setIndexes = {0, 9, 10, 19};
    engine.takePlaylist(result);
    // Move on while the first set is still being converted.
    QCoreApplication::processEvents();
    engine.toContainerVCFromPbCtlrView(TransportCommand::NextSet);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 60000);
    engine.waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(engine.state()._setNumRenderedInView1, 2);
    for (int slot = 1; slot <= 10; ++slot)
        QCOMPARE(shownColour(engine.state()._image[static_cast<std::size_t>(slot - 1)]),
                 frameColour(2, slot));
}

void TestSetPreparation::jpegSlotsGetDisplayCopies()
{
    QTemporaryDir dir;
    QStringList names;
    for (int photo = 1; photo <= 12; ++photo) {
        names.append(QStringLiteral("kro_003_%1_01.jpg").arg(photo, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::makeJpeg(dir.filePath(names.last()), QString(), QSize(640, 480), photo));
    }
    fixtures::FakeDisplay display;
    display.prepared = QSize(160, 160);
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    PlaylistResult result;
    result.symbolicPath = dir.path();
    result.sortedList = names;
    result.setIndexes = {0, 11};
    engine.takePlaylist(result);
    // Stepping onto a photo whose copy has not landed shows nothing rather than the file to decode.
    engine.toContainerVCFromPbCtlrView(TransportCommand::NextPhoto);
    QCOMPARE(display.photoNum, QStringLiteral("1"));
    QVERIFY(display.views[1].isNull());
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    engine.toContainerVCFromPbCtlrView(TransportCommand::FirstPhoto);
    QCOMPARE(display.views[1].displayImage().size(), QSize(160, 120));
    for (int slot = 1; slot <= 12; ++slot) {
        const PhotoImage& photo = engine.state()._image[static_cast<std::size_t>(slot - 1)];
        QCOMPARE(photo.filePath(), dir.filePath(names.at(slot - 1)));
        QCOMPARE(photo.size(), QSize(640, 480));
        QCOMPARE(photo.displayImage().size(), QSize(160, 120));
    }
    QVERIFY(engine.state()._image[12].isNull());
    // The set's first photo went to the display with its copy, not as a file to decode there.
    QCOMPARE(display.views[1].filePath(), dir.filePath(names.first()));
    QCOMPARE(display.views[1].displayImage().size(), QSize(160, 120));
    // Zooming in can still ask for the whole photo.
    QCOMPARE(engine.state()._image[0].fullImage().size(), QSize(640, 480));
}

void TestSetPreparation::setPlayingAgainReusesPreparedPhotos()
{
    QTemporaryDir dir;
    QStringList names;
    for (int photo = 1; photo <= 10; ++photo) {
        names.append(QStringLiteral("kro_004_%1_01.jpg").arg(photo, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::makeJpeg(dir.filePath(names.last()), QString(), QSize(320, 240), photo));
    }
    fixtures::FakeDisplay display;
    display.prepared = QSize(80, 80);
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    PlaylistResult result;
    result.symbolicPath = dir.path();
    result.sortedList = names;
    result.setIndexes = {0, 9};
    engine.takePlaylist(result);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    const QImage before = engine.state()._image[4].displayImage();

    QCOMPARE(engine.jobsDone(), 10);

    // The single set starts again: nothing to decode, the same copies are back at once.
    engine.configScheduler(true);
    QCOMPARE(engine.pendingPreparations(), 0);
    QCOMPARE(engine.state()._image[4].displayImage().constBits(), before.constBits());

    // A photo replaced on disk is decoded again; a different display size asks for new copies.
    QVERIFY(fixtures::makeJpeg(dir.filePath(names.at(2)), QString(), QSize(240, 320), 99));
    QFile(dir.filePath(names.at(2)))
        .setFileTime(QDateTime::currentDateTime().addSecs(5), QFileDevice::FileModificationTime);
    engine.configScheduler(true);
    QCOMPARE(engine.pendingPreparations(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    QCOMPARE(engine.state()._image[2].size(), QSize(240, 320));
    display.prepared = QSize(40, 40);
    engine.configScheduler(true);
    QCOMPARE(engine.pendingPreparations(), 10);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    QCOMPARE(engine.state()._image[0].displayImage().size(), QSize(40, 30));
}

void TestSetPreparation::cacheKeepsWithinBudget()
{
    const QImage image = fixtures::testImage(QSize(100, 100), 1); // 40,000 bytes
    PhotoCache cache(100'000);
    const PhotoCache::Stamp stamp{10, 1};
    for (int i = 0; i < 3; ++i)
        cache.insert(QString::number(i), QSize(9, 9), stamp, PhotoImage::fromImage(image, image));
    QCOMPARE(cache.count(), 2);
    QVERIFY(cache.bytes() <= 100'000);
    QVERIFY(cache.find("0", QSize(9, 9), stamp).isNull()); // least recently used went first
    QVERIFY(!cache.find("1", QSize(9, 9), stamp).isNull());
    cache.insert("3", QSize(9, 9), stamp, PhotoImage::fromImage(image, image));
    QVERIFY(!cache.find("1", QSize(9, 9), stamp).isNull()); // used just before, so kept
    QVERIFY(cache.find("2", QSize(9, 9), stamp).isNull());
    QVERIFY(cache.find("1", QSize(9, 9), PhotoCache::Stamp{10, 2}).isNull()); // the file changed
    QCOMPARE(cache.count(), 1);
    // Photos still held elsewhere (in the slots of the set playing) stay even beyond the budget, and
    // the budget bounds the others beside them.
    const PhotoImage held = PhotoImage::fromImage(image, image);
    const PhotoImage alsoHeld = PhotoImage::fromImage(image, image);
    cache.insert("4", QSize(9, 9), stamp, held);
    cache.insert("5", QSize(9, 9), stamp, alsoHeld);
    cache.insert("6", QSize(9, 9), stamp, PhotoImage::fromImage(image, image));
    QCOMPARE(cache.count(), 4);
    cache.insert("7", QSize(9, 9), stamp, PhotoImage::fromImage(image, image));
    QVERIFY(!cache.find("4", QSize(9, 9), stamp).isNull());
    QVERIFY(!cache.find("5", QSize(9, 9), stamp).isNull());
    QVERIFY(cache.find("3", QSize(9, 9), stamp).isNull());
    QVERIFY(!cache.find("6", QSize(9, 9), stamp).isNull());
    QVERIFY(!cache.find("7", QSize(9, 9), stamp).isNull());
    QCOMPARE(cache.unheldBytes(), 80'000);
}

void TestSetPreparation::nextSetIsDecodedAhead()
{
    QTemporaryDir dir;
    QStringList names;
    for (int set = 1; set <= 2; ++set) {
        for (int photo = 1; photo <= 10; ++photo) {
            names.append(QStringLiteral("kro_00%1_%2_01.jpg").arg(set).arg(photo, 3, 10, QLatin1Char('0')));
            QVERIFY(fixtures::makeJpeg(dir.filePath(names.last()), QString(), QSize(320, 240), photo));
        }
    }
    fixtures::FakeDisplay display;
    display.prepared = QSize(80, 80);
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    PlaylistResult result;
    result.symbolicPath = dir.path();
    result.sortedList = names;
    result.setIndexes = {0, 9, 10, 19};
    engine.takePlaylist(result);
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    engine.waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(engine.cache().count(), 20); // this set and the next

    // The move to set 2 finds every photo prepared: nothing left to decode, copies at once.
    engine.toContainerVCFromPbCtlrView(TransportCommand::NextSet);
    QCOMPARE(engine.state()._setNumRenderedInView1, 2);
    QCOMPARE(engine.pendingPreparations(), 0);
    for (int slot = 1; slot <= 10; ++slot) {
        const PhotoImage& photo = engine.state()._image[static_cast<std::size_t>(slot - 1)];
        QCOMPARE(photo.filePath(), dir.filePath(names.at(9 + slot)));
        QCOMPARE(photo.displayImage().size(), QSize(80, 60));
    }
}

// Set starts that follow each other faster than the photos decode (a set of one tick per photo
// wrapping onto itself) ask for no photo twice: work under way lands in the newest set start.
void TestSetPreparation::setStartsDoNotDecodeTwice()
{
    QTemporaryDir dir;
    QStringList names;
    for (int photo = 1; photo <= 10; ++photo) {
        names.append(QStringLiteral("kro_005_%1_01.jpg").arg(photo, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::makeJpeg(dir.filePath(names.last()), QString(), QSize(640, 480), photo));
    }
    fixtures::FakeDisplay display;
    display.prepared = QSize(80, 80);
    PlayerEngine engine(&display, std::make_unique<fixtures::ManualTimer>());
    display.engine = &engine;
    display.state = &engine.state();
    PlaylistResult result;
    result.symbolicPath = dir.path();
    result.sortedList = names;
    result.setIndexes = {0, 9};
    engine.takePlaylist(result);
    for (int i = 0; i < 3; ++i) {
        QTest::qWait(5);
        engine.configScheduler(true);
        QCOMPARE(engine.pendingPreparations(),
                 10 - static_cast<int>(
                          std::count_if(engine.state()._image.begin(), engine.state()._image.begin() + 10,
                                        [](const PhotoImage& p) { return !p.displayImage().isNull(); })));
    }
    QTRY_COMPARE_WITH_TIMEOUT(engine.pendingPreparations(), 0, 30000);
    engine.waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(engine.jobsDone(), 10);
    for (int slot = 1; slot <= 10; ++slot)
        QCOMPARE(engine.state()._image[static_cast<std::size_t>(slot - 1)].displayImage().size(),
                 QSize(80, 60));
}

QTEST_MAIN(TestSetPreparation)
#include "tst_SetPreparation.moc"
