#include "player/PlayerEngine.h"

#include "FakeDisplay.h"
#include "PlayerFixtures.h"

#include "player/PhotoDiskCache.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <memory>

using namespace qr;
using fixtures::nameOf;

namespace {

QString photoName(int set, int photo, const QString& extension = QStringLiteral("jpg"))
{
    return QStringLiteral("kro_%1_%2_01.%3")
        .arg(set, 3, 10, QLatin1Char('0'))
        .arg(photo, 3, 10, QLatin1Char('0'))
        .arg(extension);
}

// An engine on a fake display and a manual clock, playing JPEG sets whose files need not exist:
// slots refer to files and no display copies are asked for.
struct Rig {
    fixtures::FakeDisplay display;
    fixtures::ManualTimer* timer = nullptr;
    std::unique_ptr<PlayerEngine> engine;
    QTemporaryDir dir;

    Rig()
    {
        auto t = std::make_unique<fixtures::ManualTimer>();
        timer = t.get();
        engine = std::make_unique<PlayerEngine>(&display, std::move(t));
        display.engine = engine.get();
        display.state = &engine->state();
    }
    PlayerState& s() { return engine->state(); }

    // Sets of the given sizes, keys 1, 2, ..., in LIFO order; starts the first one.
    bool load(const QList<int>& sizes)
    {
        PlaylistResult result;
        result.symbolicPath = dir.path();
        for (int set = 1; set <= sizes.size(); ++set) {
            result.setIndexes.append(static_cast<std::int32_t>(result.sortedList.size()));
            for (int photo = 1; photo <= sizes.at(set - 1); ++photo)
                result.sortedList.append(photoName(set, photo));
            result.setIndexes.append(static_cast<std::int32_t>(result.sortedList.size() - 1));
        }
        engine->takePlaylist(result);
        return settle();
    }
    // Runs queued work until every preparation of the current set start has landed.
    bool settle()
    {
        QDeadlineTimer deadline(10000);
        do {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (engine->pendingPreparations() == 0) {
                QCoreApplication::processEvents();
                return true;
            }
        } while (!deadline.hasExpired());
        return false;
    }
    bool tick() { return timer->fire() && settle(); }
    bool command(int c)
    {
        engine->toContainerVCFromPbCtlrView(TransportCommand(c));
        return settle();
    }
    QString shown(int view) const { return nameOf(display.views[static_cast<std::size_t>(view)]); }
};

// An engine that asks for display copies, as the program runs, over JPEG (or HEIC) sets made at
// test time (`sets` sets of `photos` photos of 160 x 120, a different colour each).
struct CopyRig : Rig {
    QStringList names;

    bool make(int sets, int photos, const QString& extension = QStringLiteral("jpg"))
    {
        display.prepared = QSize(80, 80);
        const bool heic = extension == QLatin1String("heic");
        for (int set = 1; set <= sets; ++set) {
            for (int photo = 1; photo <= photos; ++photo) {
                names.append(photoName(set, photo, extension));
                const QString path = dir.filePath(names.last());
                if (!(heic ? fixtures::makeHeic(path, QString(), QSize(160, 120), set * 50 + photo)
                           : fixtures::makeJpeg(path, QString(), QSize(160, 120), set * 50 + photo)))
                    return false;
            }
        }
        return true;
    }
    // Starts the first set with the pool held: no photo is prepared until release().
    void startHeld()
    {
        engine->pipeline().hold(true);
        PlaylistResult result;
        result.symbolicPath = dir.path();
        result.sortedList = names;
        const auto sets = static_cast<std::int32_t>(names.size() / 10);
        for (std::int32_t set = 0; set < sets; ++set)
            result.setIndexes << set * 10 << set * 10 + 9;
        engine->takePlaylist(result);
        QCoreApplication::processEvents(); // the display step
    }
    bool release()
    {
        engine->pipeline().hold(false);
        return settle();
    }
    // The photo on view 1 has its display copy (fitted into 80 x 80) and is photo `photo` of `set`.
    bool showsCopyOf(int set, int photo) const
    {
        const PhotoImage& shown = display.views[1];
        return nameOf(shown) == photoName(set, photo) && shown.displayImage().size() == QSize(80, 60);
    }
};

} // namespace

class TestPlayerEngine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void threeSetsWrapWithPreviews();
    void singleSetAtTwoPerSecond();
    void repeatAtLastPhoto();
    void fiftyPhotosHoldSlot45();
    void pauseAndResume();
    void pauseAsTheNextSetStartsHolds();
    void commandsWhilePaused_data();
    void commandsWhilePaused();
    void setCommandsAtTheEnds_data();
    void setCommandsAtTheEnds();
    void favouriteButtons_data();
    void favouriteButtons();
    void emptyIndexListPlaysNothing();
    void generatePlaylistStartsFirstSet();
    void ticksFollowTheirDeadlines();
    void tickWaitsForItsPhoto();
    void pausedStepShowsPhotoWhenItLands_data();
    void pausedStepShowsPhotoWhenItLands();
    void resizeWhileNextSetIsPreparedAhead();
    void largerCopyForZoom();
    void largerCopiesLatestWinsBehindSlots();
    void copiesSurviveARestartOnDisk();
    void jpegCopiesStayOffTheDisk();
    void setsArePreparedOnDiskWhilePaused();
    void playingStopsThePreparationAhead();
    void preparationAheadKeepsTheDiskBudget();
};

namespace {

// Three HEIC sets of ten photos on a disk cache of `budget` bytes; the first set prepared and playing.
struct AheadRig : CopyRig {
    QTemporaryDir cacheDir;
    std::shared_ptr<PhotoDiskCache> disk;
    QList<std::pair<int, int>> readyChanges; // (ready, total), as signalled

    bool start(std::int64_t budget = PhotoDiskCache::kDefaultBudget)
    {
        disk = std::make_shared<PhotoDiskCache>(cacheDir.path(), budget);
        if (!make(3, 10, QStringLiteral("heic")))
            return false;
        engine->setDiskCache(disk);
        // At the lowest priority a busy machine could starve the copies this test waits for.
        engine->pipeline().setDiskCopiesAtLowestPriority(false);
        QObject::connect(engine.get(), &PlayerEngine::setsReadyChanged, engine.get(),
                         [this](int ready, int total) {
                             readyChanges.append({ready, total});
                         });
        startHeld();
        if (!release())
            return false;
        engine->waitForPool();
        QCoreApplication::processEvents();
        return true;
    }
    // Photos of `set` whose display copy the disk holds.
    int onDisk(int set) const
    {
        int n = 0;
        for (int photo = 1; photo <= 10; ++photo)
            n += disk->contains(PhotoDiskCache::keyFor(
                dir.filePath(photoName(set, photo, QStringLiteral("heic"))), QSize(80, 80)));
        return n;
    }
    bool idle()
    {
        engine->waitForPool();
        QCoreApplication::processEvents();
        return engine->pipeline().queuedDiskCopies() == 0;
    }
};

} // namespace

void TestPlayerEngine::threeSetsWrapWithPreviews()
{
    Rig rig;
    QVERIFY(rig.load({10, 11, 12}));
    struct Step {
        int set;
        QString view2;
        QString view3;
    };
    const QList<Step> steps{{1, photoName(2, 1), photoName(3, 1)},
                            {2, photoName(3, 1), QString()},
                            {3, QString(), QString()},
                            {1, photoName(2, 1), photoName(3, 1)},
                            {2, photoName(3, 1), QString()}};
    for (const Step& step : steps) {
        QCOMPARE(rig.s()._setNumRenderedInView1, step.set);
        QCOMPARE(rig.s()._numOfSets, 3);
        QCOMPARE(rig.shown(1), photoName(step.set, 1));
        QCOMPARE(rig.shown(2), step.view2);
        QCOMPARE(rig.shown(3), step.view3);
        const int length = 9 + step.set;
        QCOMPARE(rig.s()._listOfFilesForView[0].size(), length);
        for (int photo = 1; photo <= length; ++photo) {
            QVERIFY(rig.tick());
            QCOMPARE(rig.display.photoNum, QString::number(photo));
            QCOMPARE(rig.shown(1), photoName(step.set, photo));
        }
        QVERIFY(rig.tick()); // the set's end: the next set starts
        QCOMPARE(rig.display.photoNum, QString());
    }
}

void TestPlayerEngine::singleSetAtTwoPerSecond()
{
    Rig rig;
    QVERIFY(rig.load({12}));
    rig.display.applySpeed(0.1875); // 2 photos per second, as the speed slider sets it
    rig.engine->armRenderTimer();
    const int bars = rig.display.barsCreated;
    std::int64_t last = rig.timer->now;
    for (int round = 0; round < 2; ++round) {
        for (int photo = 1; photo <= 12; ++photo) {
            QVERIFY(rig.tick());
            QCOMPARE(rig.timer->now - last, std::int64_t{500'000'000});
            last = rig.timer->now;
            QCOMPARE(rig.display.photoNum, QString::number(photo));
            QCOMPARE(rig.display.speedText, QStringLiteral("2"));
            QCOMPARE(rig.shown(1), photoName(1, photo));
        }
        // End of the set: the same set starts again, the speed saved across the reset.
        QVERIFY(rig.tick());
        QCOMPARE(rig.s()._setNumRenderedInView1, 1);
        QCOMPARE(rig.s()._speedSliderDoubleValue, 0.1875f);
        QCOMPARE(rig.s()._transactionToTheNextSetWillOccur, false);
        QCOMPARE(rig.s()._timerTimeInterval, 0.5f);
        QCOMPARE(rig.display.barsCreated, bars + round + 1);
        QCOMPARE(rig.shown(1), photoName(1, 1));
        last = rig.timer->now;
    }
}

void TestPlayerEngine::repeatAtLastPhoto()
{
    Rig rig;
    QVERIFY(rig.load({10, 10}));
    for (int photo = 1; photo <= 10; ++photo)
        QVERIFY(rig.tick());
    rig.engine->menuToggleRepeatSet(false); // outside the media player: ignored
    QVERIFY(!rig.s()._repeatSetEn);
    rig.engine->menuToggleRepeatSet(true);
    QVERIFY(rig.s()._repeatSetEn);
    QVERIFY(rig.display.repeatYellow);
    const int bars = rig.display.barsCreated;
    QVERIFY(rig.tick());
    QCOMPARE(rig.display.photoNum, QStringLiteral("1"));
    QCOMPARE(rig.shown(1), photoName(1, 1));
    QCOMPARE(rig.s()._setNumRenderedInView1, 1);
    QCOMPARE(rig.display.barsCreated, bars);
    rig.engine->menuToggleRepeatSet(true);
    QVERIFY(!rig.display.repeatYellow);
}

void TestPlayerEngine::fiftyPhotosHoldSlot45()
{
    Rig rig;
    QVERIFY(rig.load({50}));
    QCOMPARE(rig.s()._image[44].filePath(), rig.dir.filePath(photoName(1, 45)));
    QVERIFY(rig.s()._image[45].isNull());
    for (int photo = 1; photo <= 50; ++photo) {
        QVERIFY(rig.tick());
        QCOMPARE(rig.display.photoNum, QString::number(photo));
        QCOMPARE(rig.shown(1), photoName(1, std::min(photo, 45)));
    }
    QVERIFY(rig.tick());
    QCOMPARE(rig.shown(1), photoName(1, 1));
}

void TestPlayerEngine::pauseAndResume()
{
    Rig rig;
    QVERIFY(rig.load({20}));
    for (int photo = 1; photo <= 7; ++photo)
        QVERIFY(rig.tick());
    QVERIFY(rig.command(1));
    QVERIFY(!rig.engine->renderTimerRunning());
    QCOMPARE(rig.display.photoNum, QStringLiteral("7"));
    rig.timer->now += 5'000'000'000; // paused for a while
    QVERIFY(rig.command(1));
    QVERIFY(rig.engine->renderTimerRunning());
    QCOMPARE(rig.timer->deadline - rig.timer->now, std::int64_t{1'000'000'000});
    QVERIFY(rig.tick());
    QCOMPARE(rig.display.photoNum, QStringLiteral("8"));
    QCOMPARE(rig.shown(1), photoName(1, 8));
}

// The last photo's tick starts the next set, whose display step is posted; a pause that lands before
// that step runs keeps the next set paused.
void TestPlayerEngine::pauseAsTheNextSetStartsHolds()
{
    Rig rig;
    QVERIFY(rig.load({3, 3}));
    for (int photo = 1; photo <= 3; ++photo)
        QVERIFY(rig.tick());
    QVERIFY(rig.timer->fire()); // set 2 starts; its display step is still queued
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(rig.settle());
    QVERIFY(!rig.engine->renderTimerRunning());
    QCOMPARE(rig.engine->state()._setNumRenderedInView1, 2);
    rig.timer->now += 5'000'000'000;
    QVERIFY(!rig.timer->fire());
    QVERIFY(rig.command(1)); // and plays again when asked
    QVERIFY(rig.engine->renderTimerRunning());
}

void TestPlayerEngine::commandsWhilePaused_data()
{
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<int>("photo");
    QTest::addColumn<bool>("running");
    QTest::newRow("forward") << QList<int>{2} << 8 << false;
    QTest::newRow("to the end") << QList<int>{4} << 20 << false;
    QTest::newRow("forward at the end") << QList<int>{4, 2} << 20 << false;
    QTest::newRow("to the beginning") << QList<int>{5} << 1 << false;
    QTest::newRow("back at photo 1") << QList<int>{5, 3} << 1 << false;
    QTest::newRow("back") << QList<int>{3} << 6 << false;
    QTest::newRow("resume") << QList<int>{1} << 7 << true;
    QTest::newRow("unknown number") << QList<int>{9} << 7 << false;
}

void TestPlayerEngine::commandsWhilePaused()
{
    QFETCH(QList<int>, commands);
    QFETCH(int, photo);
    QFETCH(bool, running);
    Rig rig;
    QVERIFY(rig.load({20}));
    for (int i = 1; i <= 7; ++i)
        QVERIFY(rig.tick());
    QVERIFY(rig.command(1));
    for (int c : commands)
        QVERIFY(rig.command(c));
    QCOMPARE(rig.s()._view1RenderPid, photo);
    QCOMPARE(rig.display.photoNum, QString::number(photo));
    QCOMPARE(rig.shown(1), photoName(1, photo));
    QCOMPARE(rig.engine->renderTimerRunning(), running);
}

void TestPlayerEngine::setCommandsAtTheEnds_data()
{
    QTest::addColumn<int>("startSet");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("set");
    QTest::addColumn<bool>("running");
    QTest::newRow("next from 2 of 3") << 2 << 6 << 3 << true;
    QTest::newRow("next from 3 of 3") << 3 << 6 << 3 << false;
    QTest::newRow("previous from 2") << 2 << 7 << 1 << true;
    QTest::newRow("previous from 1") << 1 << 7 << 1 << false;
}

void TestPlayerEngine::setCommandsAtTheEnds()
{
    QFETCH(int, startSet);
    QFETCH(int, command);
    QFETCH(int, set);
    QFETCH(bool, running);
    Rig rig;
    QVERIFY(rig.load({10, 11, 12}));
    rig.s()._setNumRenderedInView1 = startSet;
    rig.engine->configScheduler(true);
    QVERIFY(rig.settle());
    rig.display.speedSlider = 0.1875;
    for (int i = 0; i < 3; ++i)
        QVERIFY(rig.tick());
    QVERIFY(rig.command(command));
    QCOMPARE(rig.s()._setNumRenderedInView1, set);
    QCOMPARE(rig.engine->renderTimerRunning(), running);
    if (set != startSet) {
        // The new set plays from its first photo, at the speed chosen before the move.
        QCOMPARE(rig.s()._view1RenderPid, 0);
        QCOMPARE(rig.s()._timerTimeInterval, 0.5f);
        QVERIFY(rig.tick());
        QCOMPARE(rig.shown(1), photoName(set, 1));
    } else {
        QCOMPARE(rig.s()._view1RenderPid, 3);
    }
}

void TestPlayerEngine::favouriteButtons_data()
{
    QTest::addColumn<bool>("tools");
    QTest::addColumn<bool>("running");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("shown");
    QTest::newRow("tools, running, forward") << true << true << 2 << true;
    QTest::newRow("tools, running, pause") << true << true << 1 << true;
    QTest::newRow("tools, paused, forward") << true << false << 2 << false;
    QTest::newRow("no tools, running, forward") << false << true << 2 << false;
    QTest::newRow("tools, running, next set") << true << true << 6 << false;
}

void TestPlayerEngine::favouriteButtons()
{
    QFETCH(bool, tools);
    QFETCH(bool, running);
    QFETCH(int, command);
    QFETCH(bool, shown);
    Rig rig;
    QVERIFY(rig.load({10, 10}));
    QVERIFY(rig.tick());
    if (!running)
        QVERIFY(rig.command(1));
    rig.display.tools = tools;
    rig.display.favourites = true; // left over from before: every command removes them first
    QVERIFY(rig.command(command));
    QCOMPARE(rig.display.favourites, shown);
}

void TestPlayerEngine::emptyIndexListPlaysNothing()
{
    Rig rig;
    PlaylistResult result;
    result.symbolicPath = rig.dir.path();
    for (int photo = 1; photo <= 10; ++photo)
        result.sortedList.append(photoName(1, photo));
    rig.engine->takePlaylist(result);
    QVERIFY(rig.settle());
    QVERIFY(!rig.engine->renderTimerRunning());
    QCOMPARE(rig.display.barsCreated, 0);
    QCOMPARE(rig.display.passesFinished, 1);
    QVERIFY(rig.s()._listOfFilesForView[0].isEmpty());
    QVERIFY(rig.command(6));
    QVERIFY(rig.command(1)); // resumes a timer whose tick finds no set and stops for good
    QVERIFY(rig.tick());
    QVERIFY(!rig.engine->renderTimerRunning());
}

void TestPlayerEngine::generatePlaylistStartsFirstSet()
{
    Rig rig;
    for (int set = 1; set <= 2; ++set) {
        for (int photo = 1; photo <= 10; ++photo) {
            const bool end = photo == 1 || photo == 10;
            QVERIFY(fixtures::makeJpeg(rig.dir.filePath(photoName(set, photo)),
                                       end ? fixtures::signature("10.1") : QString(), {16, 16}, photo));
        }
    }
    rig.s()._pathToDownloadsDir = rig.dir.path();
    rig.s()._fifoLifoSegMode = 0;
    rig.engine->generatePlaylistButtonAction();
    QTRY_COMPARE_WITH_TIMEOUT(rig.display.passesFinished, 1, 30000);
    QCOMPARE(rig.s()._symbolicPath, rig.dir.path());
    QCOMPARE(rig.s()._sortedListv2.size(), 20);
    QCOMPARE(rig.s()._arrayOfSetIndexes, (QList<std::int32_t>{10, 19, 0, 9}));
    // FIFO: the set with the largest key plays first, the other one waits in view 2.
    QVERIFY(rig.settle());
    QCOMPARE(rig.s()._setNumRenderedInView1, 1);
    QCOMPARE(rig.shown(1), photoName(2, 1));
    QCOMPARE(rig.shown(2), photoName(1, 1));
    QCOMPARE(rig.display.barsCreated, 1);
    QVERIFY(rig.engine->renderTimerRunning());
}

// A tick that takes time does not push the following ones back; a stall longer than a period
// restarts the schedule from the moment playback could go on, instead of catching up in a burst.
void TestPlayerEngine::ticksFollowTheirDeadlines()
{
    Rig rig;
    QVERIFY(rig.load({20}));
    constexpr std::int64_t kPeriod = 1'000'000'000;
    rig.display.onPhotoNum = [&] {
        rig.timer->now += 30'000'000;
    }; // 30 ms of work per tick
    QVERIFY(rig.tick());
    std::int64_t due = rig.timer->deadline;
    for (int i = 0; i < 5; ++i) {
        QVERIFY(rig.tick());
        QCOMPARE(rig.timer->deadline, due + kPeriod);
        due = rig.timer->deadline;
    }
    const std::int64_t resumed = due + 3 * kPeriod; // the event loop was held up
    rig.timer->now = resumed;
    QVERIFY(rig.tick());
    QCOMPARE(rig.timer->deadline, resumed + kPeriod);
}

// A tick due to show a JPEG photo whose copy is still being prepared leaves the display as it is and
// waits; the photo appears when its copy lands, and the schedule goes on from then.
void TestPlayerEngine::tickWaitsForItsPhoto()
{
    CopyRig rig;
    QVERIFY(rig.make(1, 10));
    rig.startHeld();
    const int shows = rig.display.showCount;
    QVERIFY(rig.timer->fire());
    QVERIFY(rig.engine->tickWaiting());
    QVERIFY(rig.engine->renderTimerRunning());
    QCOMPARE(rig.s()._view1RenderPid, 0);
    QCOMPARE(rig.display.showCount, shows);
    QVERIFY(rig.display.views[1].isNull());

    rig.timer->now += 200'000'000; // the copy takes 200 ms
    const std::int64_t landed = rig.timer->now;
    QVERIFY(rig.release());
    QVERIFY(!rig.engine->tickWaiting());
    QCOMPARE(rig.s()._view1RenderPid, 1);
    QVERIFY(rig.showsCopyOf(1, 1));
    QCOMPARE(rig.display.photoNum, QStringLiteral("1"));
    QCOMPARE(rig.timer->deadline, landed + 1'000'000'000);
    // Every later photo is prepared by now: the ticks go on at their pace.
    for (int photo = 2; photo <= 10; ++photo) {
        QVERIFY(rig.tick());
        QVERIFY(rig.showsCopyOf(1, photo));
    }
}

// While paused, a step onto a photo still being prepared shows it once it lands (a raw-like empty
// display never replaces it for JPEG), even when it is not the set's first.
void TestPlayerEngine::pausedStepShowsPhotoWhenItLands_data()
{
    QTest::addColumn<QList<int>>("commands");
    QTest::addColumn<int>("photo");
    QTest::newRow("forward to 1") << QList<int>{2} << 1;
    QTest::newRow("to the end") << QList<int>{4} << 10;
    QTest::newRow("forward twice") << QList<int>{2, 2} << 2;
}

void TestPlayerEngine::pausedStepShowsPhotoWhenItLands()
{
    QFETCH(QList<int>, commands);
    QFETCH(int, photo);
    CopyRig rig;
    QVERIFY(rig.make(1, 10));
    rig.startHeld();
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(!rig.engine->renderTimerRunning());
    for (int c : commands)
        rig.engine->toContainerVCFromPbCtlrView(TransportCommand(c));
    QCOMPARE(rig.s()._view1RenderPid, photo);
    QCOMPARE(rig.display.photoNum, QString::number(photo));
    QVERIFY(rig.display.views[1].isNull());
    QVERIFY(rig.release());
    QVERIFY(rig.showsCopyOf(1, photo));
    QVERIFY(!rig.engine->renderTimerRunning());
}

// A resize between the first set's preparation and the move to the next set: the work under way for
// the old size is not taken for the new one; every slot of the next set gets a copy at the new size,
// and the set after it is prepared ahead again.
void TestPlayerEngine::resizeWhileNextSetIsPreparedAhead()
{
    CopyRig rig;
    QVERIFY(rig.make(3, 10));
    // Once set 1 is prepared, the preparation of set 2 ahead starts and is held there: two of its
    // photos under way at 80 x 80, the rest queued. Then the display grows.
    QObject::connect(rig.engine.get(), &PlayerEngine::slotPrepared, rig.engine.get(), [&](int) {
        if (rig.engine->pendingPreparations() == 0 && rig.s()._setNumRenderedInView1 == 1)
            rig.engine->pipeline().hold(true);
    });
    rig.startHeld();
    rig.engine->pipeline().hold(false);
    QVERIFY(rig.settle());
    rig.display.prepared = QSize(120, 120);
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::NextSet);
    QVERIFY(rig.release());
    QCOMPARE(rig.s()._setNumRenderedInView1, 2);
    for (int slot = 1; slot <= 10; ++slot) {
        const PhotoImage& photo = rig.s()._image[static_cast<std::size_t>(slot - 1)];
        QCOMPARE(nameOf(photo), photoName(2, slot));
        QCOMPARE(photo.displayImage().size(), QSize(120, 90));
    }
    rig.engine->waitForPool();
    QCoreApplication::processEvents();
    // Set 3 was prepared ahead at the new size: all of it is found at the move.
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::NextSet);
    QCOMPARE(rig.s()._setNumRenderedInView1, 3);
    QCOMPARE(rig.engine->pendingPreparations(), 0);
    for (int slot = 1; slot <= 10; ++slot)
        QCOMPARE(rig.s()._image[static_cast<std::size_t>(slot - 1)].displayImage().size(), QSize(120, 90));
}

// A display zoomed past a photo's copy asks for a larger one: it is decoded off the main thread and
// the photo shown again with it.
void TestPlayerEngine::largerCopyForZoom()
{
    CopyRig rig;
    QVERIFY(rig.make(1, 10));
    rig.startHeld();
    QVERIFY(rig.release());
    QVERIFY(rig.tick());
    QVERIFY(rig.showsCopyOf(1, 1));
    const int shows = rig.display.showCount;
    rig.engine->prepareLargerCopy(rig.display.views[1], QSize(150, 150));
    QVERIFY(rig.settle());
    QTRY_VERIFY_WITH_TIMEOUT(rig.display.showCount > shows, 10000);
    QCOMPARE(nameOf(rig.display.views[1]), photoName(1, 1));
    QCOMPARE(rig.display.views[1].largerImage().size(), QSize(150, 112));
}

// Larger copies are asked for as the user zooms: only the latest one asked is made, after the slots
// the set still waits for, and nothing asked for a set lands once another set has started.
void TestPlayerEngine::largerCopiesLatestWinsBehindSlots()
{
    CopyRig rig;
    QVERIFY(rig.make(2, 10));
    rig.startHeld();
    QStringList order; // what landed, in order: "slot" or the larger copy's file
    QObject::connect(&rig.engine->pipeline(), &PreparationPipeline::slotReady, [&] { order << "slot"; });
    QObject::connect(&rig.engine->pipeline(), &PreparationPipeline::largerReady,
                     [&](const QString& path) { order << QFileInfo(path).fileName(); });
    auto& pipeline = rig.engine->pipeline();
    for (int photo = 1; photo <= 3; ++photo)
        pipeline.prepareLarger(rig.dir.filePath(photoName(1, photo)), QSize(150, 150));
    QVERIFY(rig.release());
    rig.engine->waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(order.count(photoName(1, 3)), 1);
    QCOMPARE(order.count(photoName(1, 1)) + order.count(photoName(1, 2)), 0);
    // Two workers: when the copy was taken, every slot before it was taken, and at most one other
    // job was still running beside it.
    QVERIFY2(order.indexOf(photoName(1, 3)) >= 9, qPrintable(order.join(' ')));

    // Asked for while set 1 plays and under way when set 2 starts: it does not land.
    order.clear();
    pipeline.hold(true);
    pipeline.prepareLarger(rig.dir.filePath(photoName(1, 4)), QSize(150, 150));
    QTRY_COMPARE_WITH_TIMEOUT(pipeline.queuedJobs(), 0, 10000);
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::NextSet);
    QVERIFY(rig.release());
    rig.engine->waitForPool();
    QCoreApplication::processEvents();
    QCOMPARE(order.count(photoName(1, 4)), 0);
}

// HEIC display copies kept on disk serve a new engine over the same folder (a restart) without
// decoding; a damaged entry is decoded again and rewritten.
void TestPlayerEngine::copiesSurviveARestartOnDisk()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder for HEIC fixtures");
    QTemporaryDir cacheDir;
    auto disk = std::make_shared<PhotoDiskCache>(cacheDir.path());
    QStringList names;
    QString folder;
    {
        CopyRig rig;
        QVERIFY(rig.make(1, 10, QStringLiteral("heic")));
        rig.engine->setDiskCache(disk);
        rig.startHeld();
        QVERIFY(rig.release());
        rig.engine->waitForPool();
        names = rig.names;
        folder = rig.dir.path();
        rig.dir.setAutoRemove(false);
    }
    // The entries of photos 1 to 9 as they are: an entry served is not written again (a new one would
    // be renamed into place, another file). The entry of photo 10 is cut short.
    QList<QPair<QString, quint64>> served;
    for (int photo = 1; photo <= 9; ++photo) {
        const QString entry = disk->entryPath(
            PhotoDiskCache::keyFor(folder + QLatin1Char('/') + names.at(photo - 1), QSize(80, 80)));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(entry).constData(), &st), 0);
        served.append({entry, quint64(st.st_ino)});
    }
    const QString last = folder + QLatin1Char('/') + names.last();
    const QString entry = disk->entryPath(PhotoDiskCache::keyFor(last, QSize(80, 80)));
    QVERIFY(QFile::resize(entry, QFileInfo(entry).size() / 2));

    CopyRig rig;
    rig.display.prepared = QSize(80, 80);
    rig.names = names;
    rig.engine->setDiskCache(std::make_shared<PhotoDiskCache>(cacheDir.path()));
    PlaylistResult result;
    result.symbolicPath = folder;
    result.sortedList = names;
    result.setIndexes = {0, 9};
    rig.engine->takePlaylist(result);
    QVERIFY(rig.settle());
    for (int slot = 1; slot <= 10; ++slot)
        QCOMPARE(rig.s()._image[static_cast<std::size_t>(slot - 1)].displayImage().size(), QSize(80, 60));
    rig.engine->waitForPool();
    for (const auto& [path, inode] : served) {
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(quint64(st.st_ino), inode);
    }
    QVERIFY(QFileInfo(entry).size() > 80 * 60 * 4);
    QDir(folder).removeRecursively();
}

// A JPEG decodes faster than its display copy is written and read back: its copies are not kept.
void TestPlayerEngine::jpegCopiesStayOffTheDisk()
{
    QTemporaryDir cacheDir;
    auto disk = std::make_shared<PhotoDiskCache>(cacheDir.path());
    CopyRig rig;
    QVERIFY(rig.make(1, 10));
    rig.engine->setDiskCache(disk);
    rig.startHeld();
    QVERIFY(rig.release());
    rig.engine->waitForPool();
    QVERIFY(rig.showsCopyOf(1, 1));
    for (const QString& name : std::as_const(rig.names))
        QVERIFY(!QFileInfo::exists(
            disk->entryPath(PhotoDiskCache::keyFor(rig.dir.filePath(name), QSize(80, 80)))));
}

// While paused, the HEIC sets' display copies are made on the disk ahead of their first play, and
// the count of ready sets follows; a set started then finds every copy there.
void TestPlayerEngine::setsArePreparedOnDiskWhilePaused()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder for HEIC fixtures");
    AheadRig rig;
    QVERIFY(rig.start());
    QCOMPARE(rig.readyChanges.first(), qMakePair(0, 3));
    // Playing made the copies of the set on display and of the one prepared after it; not the last.
    QCOMPARE(rig.onDisk(3), 0);
    QCOMPARE(rig.engine->setsReady(), 0);

    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(!rig.engine->renderTimerRunning());
    QVERIFY(rig.idle());
    for (int set = 1; set <= 3; ++set)
        QCOMPARE(rig.onDisk(set), 10);
    QCOMPARE(rig.engine->setsReady(), 3);
    QCOMPARE(rig.readyChanges.last(), qMakePair(3, 3));

    // Pausing again has nothing left to do.
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QCOMPARE(rig.engine->pipeline().queuedDiskCopies(), 0);
}

// Play stops the preparation ahead at once: what is queued is dropped; the one copy under way is the
// last.
void TestPlayerEngine::playingStopsThePreparationAhead()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder for HEIC fixtures");
    AheadRig rig;
    QVERIFY(rig.start());
    rig.engine->pipeline().hold(true);
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    // The first copy (of set 1, on the disk already) waits in the hold; the other 29 are queued.
    QTRY_COMPARE_WITH_TIMEOUT(rig.engine->pipeline().queuedDiskCopies(), 29, 10000);
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(rig.engine->renderTimerRunning());
    QCOMPARE(rig.engine->pipeline().queuedDiskCopies(), 0);
    rig.engine->pipeline().hold(false);
    QVERIFY(rig.idle());
    QCOMPARE(rig.onDisk(3), 0);
    QCOMPARE(rig.engine->setsReady(), 0);
}

// Copies made ahead stay within the disk cache's budget: the sets that do not fit are left out.
void TestPlayerEngine::preparationAheadKeepsTheDiskBudget()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder for HEIC fixtures");
    // Room for about 25 copies of 80 x 60.
    const std::int64_t budget = 25 * (80 * 60 * 4 + 4096);
    AheadRig rig;
    QVERIFY(rig.start(budget));
    rig.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(rig.idle());
    QVERIFY2(rig.disk->usedBytes() <= budget, qPrintable(QString::number(rig.disk->usedBytes())));
    QVERIFY(rig.engine->setsReady() < 3);
}

QTEST_MAIN(TestPlayerEngine)
#include "tst_PlayerEngine.moc"
