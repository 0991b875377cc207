// The player's widgets driven as the user and the engine drive them: panels, controls, zoom,
// resize, favourites, sharing, keyboard transport.
#include "../player/PlayerFixtures.h"
#include "decode/Lz4FrameEncoder.h"
#include "platform/ContainerView.h"
#include "player/PlayerEngine.h"
#include "player/RenderTimer.h"
#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/MvcControlStrip.h"
#include "ui/PbCtlrView.h"
#include "ui/PbCtlrViewPlaybackDelegate.h"
#include "ui/PlayerUi.h"
#include "ui/ScreenMetrics.h"
#include "ui/SharingPicker.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace qr;

namespace {

// A render timer the test owns: armed or not, it never fires by itself.
class ManualTimer : public RenderTimer {
public:
    std::int64_t nowNs() const override { return 0; }
    void armAt(std::int64_t) override { armed = true; }
    void stop() override { armed = false; }
    bool isArmed() const override { return armed; }
    void setCallback(std::function<void()>) override {}
    bool armed = false;
};

// Forwards the bar's commands to the engine, as the main controller does.
class Forwarder : public QObject, public PbCtlrViewPlaybackDelegate {
public:
    PlayerEngine* engine = nullptr;
    QList<int32_t> received;
    void toContainerVCFromPbCtlrView(PbCtlrView*, TransportCommand command) override
    {
        const auto n = static_cast<int32_t>(command);
        received << n;
        if (engine)
            engine->toContainerVCFromPbCtlrView(command);
    }
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The player on a 1440 x 900 screen with a 24-point menu bar: display 588 x 784. Retina (scale
// factor 2) unless told otherwise.
struct Fixture {
    QWidget window;
    QWidget* container = nullptr;
    ScreenMetrics metrics;
    std::unique_ptr<PlayerUi> ui;
    ManualTimer* timer = nullptr;
    std::unique_ptr<PlayerEngine> engine;
    Forwarder forwarder;
    QTemporaryDir dir;
    QString favourites, downloads;

    explicit Fixture(float scale = 2.0f)
    {
        metrics = ScreenMetricsCalc::compute({scale, 1440, 900, 1440, 875, 24});
        container = new ContainerView(&window);
        window.resize(1440, 786);
        container->setGeometry(0, 0, 1440, 786);
        ui = std::make_unique<PlayerUi>(container, &metrics);
        auto t = std::make_unique<ManualTimer>();
        timer = t.get();
        engine = std::make_unique<PlayerEngine>(ui.get(), std::move(t));
        ui->setEngine(engine.get());
        forwarder.engine = engine.get();
        ui->setBarDelegate(&forwarder);
        ui->setLayoutModeSource([] { return LayoutMode{true, false, 2, false}; });
        favourites = dir.filePath("Favorites");
        downloads = dir.filePath("Downloads");
        QDir().mkpath(favourites);
        QDir().mkpath(downloads);
        ui->setFavoritesDir(favourites);
        engine->state()._symbolicPath = downloads;
        build();
        window.show();
    }

    // What accepting the welcome dialog builds.
    void build()
    {
        ui->configRenderView1();
        ui->configRenderView2();
        ui->configRenderView3();
        ui->configRenderView4();
        PlayerControls& c = ui->controls();
        c._toolsEn = false;
        c.configGeneratePlaylistButton();
        c.configJpegHeicRgbAllSeg();
        c.configFifoLifoSeg();
        c.configToolsButton();
        c._imageOffsetW = c._imageOffsetH = 0.0f;
        c.configSliders();
        c.configResetSlidersButton();
        c.configSaveAsPresetButton();
        c.configShareFavPhotosButton();
        c.configView1Labels();
    }

    // A set of photos on disk with photo `shown` on the display, first photo w x h.
    void loadSet(const QStringList& names, int shown, int w = 300, int h = 400)
    {
        for (const QString& n : names)
            QVERIFY(writeFile(downloads + "/" + n, n.toUtf8()));
        engine->state()._listOfFilesForView[0] = names;
        engine->state()._view1RenderPid = shown;
        QImage first(w, h, QImage::Format_RGB32);
        first.fill(Qt::darkCyan);
        engine->state()._image[0] = PhotoImage::fromImage(first);
    }

    // A point of a widget in the container's coordinates.
    QPoint inContainer(QWidget* w, QPoint p = {}) const { return w->mapTo(container, p); }
};

void activate(QWidget* window)
{
    window->activateWindow();
    QApplication::setActiveWindow(window);
    QVERIFY(QTest::qWaitForWindowActive(window));
}

} // namespace

class TstPlayerUi : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutOnScreen();
    void panelsToggle();
    void panelsSurviveResize_data();
    void panelsSurviveResize();
    void resizeBeforePlaylistShowsTools();
    void resizeAnswersSpecSizes();
    void zoomDoublesDisplayLabelsStay();
    void zoomIgnoresLandscape();
    void maxOutFitsRawFirstPhoto();
    void speedSlider_data();
    void speedSlider();
    void sliderMoveDuringPlaybackRearms();
    void copyTwiceLeavesOne();
    void copyOnlyAPhotoOnDisplay();
    void shareOffersLastFavourite();
    void shareOffersClipBesideFavourite();
    void pauseBringsFavouriteButtons();
    void keyboardTransport_data();
    void keyboardTransport();
    void spaceAfterFocusedControlHides();
    void focusedSliderKeepsArrows();
    void accessibleNames();
    void labelsExposeTheirValue_data();
    void labelsExposeTheirValue();
    void thumbnailFillsPanel();
    void containerGrowthKeepsBottomAnchor();
    void builtWhileHiddenThenShown();
    void mainDisplayShowsPreparedCopies();
    void progressText_data();
    void progressText();
    void mainCopySize_data();
    void mainCopySize();
    void runningPassStops_data();
    void runningPassStops();
    void passFindingNothingSaysWhy();
    void setsReadyShowInPlaylistPanel();
    void zoomedRawFramePaintsFullFrame();
    void titlesByScale_data();
    void titlesByScale();
    void sliderRanges_data();
    void sliderRanges();
    void panMovesPhoto_data();
    void panMovesPhoto();
};

void TstPlayerUi::layoutOnScreen()
{
    Fixture f;
    // Bottom-left points become top-left pixels once: render view 1 at (294, 1) in a 786-high area.
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), QRect(294, 1, 588, 784));
    QCOMPARE(f.ui->panels().renderView(4)->geometry().left(), 1176);
    QCOMPARE(f.ui->panels().renderView(4)->geometry().width(), 264);
    QCOMPARE(f.ui->panels().renderView(2)->geometry().top(), 1);
    QCOMPARE(f.ui->panels().renderView(4)->geometry().bottom() + 1, 785);
    QCOMPARE(f.ui->panels().imageView(1)->geometry(), QRect(0, 0, 588, 784));
    // Borders and backgrounds.
    QCOMPARE(f.ui->panels().renderView(1)->borderWidth(), 3.0);
    QCOMPARE(f.ui->panels().renderView(4)->backgroundColour(),
             QColor::fromRgbF(0.501961f, 0.501961f, 0.501961f));
    // The playlist panel shows; the Tools button waits for a playlist.
    PlayerControls& c = f.ui->controls();
    QVERIFY(c.playlistButton()->isVisible());
    QVERIFY(c.jpegHeicRgbAllSeg()->isVisible());
    QVERIFY(!c.toolsButton()->isVisible());
    QCOMPARE(c.playlistButton()->geometry(), QRect(67, 261 - 54 - 40, 130, 40));
    // The bar: centred under the main display, 30 points above the bottom.
    f.ui->createControllerBar();
    QCOMPARE(f.ui->controllerBar()->geometry(), QRect(363, 786 - 80, 450, 50));
    QVERIFY(f.ui->controllerBar()->iconIsAtPause());
    // Repeat label at (W - 15, H - 35).
    QCOMPARE(f.ui->repeatSetLabel()->geometry(), QRect(573, 786 - 784 + 5, 30, 30));
}

void TstPlayerUi::panelsToggle()
{
    Fixture f;
    PlayerControls& c = f.ui->controls();
    f.timer->armed = true; // playing: no favourite buttons
    f.ui->playlistPassFinished(PhotoImage());
    QVERIFY(c._toolsEn);
    QCOMPARE(c.toolsButton()->text(), QStringLiteral("<-"));
    QVERIFY(c.toolsButton()->isVisible());
    for (QWidget* w : std::initializer_list<QWidget*>{c.zoomInSlider(), c.xSlider(), c.ySlider(),
                                                      c.speedSlider(), c.resetSlidersButton()})
        QVERIFY(w->isVisible());
    QVERIFY(!c.saveAsPresetButton()->isVisible());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
    QVERIFY(!c.playlistButton()->isVisible());
    QTest::mouseClick(c.toolsButton(), Qt::LeftButton);
    QVERIFY(!c._toolsEn);
    QCOMPARE(c.toolsButton()->text(), QStringLiteral("Tools"));
    QVERIFY(c.playlistButton()->isVisible());
    QVERIFY(c.fifoLifoSeg()->isVisible());
    QVERIFY(!c.zoomInSlider()->isVisible());
    // Stopped: the tools panel brings Copy, and Share only when a favourite exists.
    f.timer->armed = false;
    QTest::mouseClick(c.toolsButton(), Qt::LeftButton);
    QVERIFY(c.saveAsPresetButton()->isVisible());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
}

void TstPlayerUi::panelsSurviveResize_data()
{
    QTest::addColumn<bool>("tools");
    QTest::newRow("tools panel") << true;
    QTest::newRow("playlist panel") << false;
}

void TstPlayerUi::panelsSurviveResize()
{
    QFETCH(bool, tools);
    Fixture f;
    PlayerControls& c = f.ui->controls();
    c.jpegHeicRgbAllSeg()->clickSegment(1); // HEIC
    c.fifoLifoSeg()->clickSegment(0);       // FIFO
    QCOMPARE(f.engine->state()._jpegHeicRgbAllSegMode, 1);
    QCOMPARE(f.engine->state()._fifoLifoSegMode, 0);
    c.speedSlider()->setValue(0.9);
    c.speedSliderAction();
    QCOMPARE(f.engine->state()._playbackSpeed, 30);
    if (tools)
        c.toolsButtonAction();
    f.ui->createControllerBar();

    f.container->resize(1700, 984);
    const QSize answer = f.ui->windowWillResize(QSize(1700, 1003), 1.0f, 19.0);
    QCOMPARE(answer, QSize(1700, 1003));
    QCOMPARE(c._toolsEn, tools);
    QCOMPARE(c.zoomInSlider()->isVisible(), tools);
    QCOMPARE(c.playlistButton()->isVisible(), !tools);
    QVERIFY(c.toolsButton()->isVisible());
    QCOMPARE(c.toolsButton()->text(), tools ? QStringLiteral("<-") : QStringLiteral("Tools"));
    // Selectors and speed are back at their defaults: ALL, LIFO, 1 photo per second.
    QCOMPARE(c.jpegHeicRgbAllSeg()->selectedSegment(), 3);
    QCOMPARE(c.fifoLifoSeg()->selectedSegment(), 1);
    QCOMPARE(f.engine->state()._jpegHeicRgbAllSegMode, 3);
    QCOMPARE(f.engine->state()._fifoLifoSegMode, 1);
    QCOMPARE(f.engine->state()._playbackSpeed, 1);
    // New display 738 x 984 at (369, 0); the bar follows it.
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), QRect(369, 0, 738, 984));
    QCOMPARE(f.ui->controllerBar()->geometry(), QRect((2 * 738 - 500) / 2, 984 - 80, 500, 50));
    QCOMPARE(f.ui->panels().renderView(4)->geometry().left(), 2 * 738);
}

void TstPlayerUi::resizeBeforePlaylistShowsTools()
{
    Fixture f;
    QVERIFY(!f.ui->controls().toolsButton()->isVisible());
    f.ui->windowWillResize(QSize(1440, 810), 2.0f, 24.0);
    QVERIFY(f.ui->controls().toolsButton()->isVisible());
    QVERIFY(f.ui->controls().playlistButton()->isVisible());
}

void TstPlayerUi::resizeAnswersSpecSizes()
{
    Fixture f;
    QCOMPARE(f.ui->windowWillResize(QSize(600, 300), 2.0f, 24.0), QSize(1280, 720));
    QCOMPARE(f.metrics.outHeight, 276.0f);
    QCOMPARE(f.ui->windowWillResize(QSize(1200, 800), 1.0f, 24.0), QSize(1600, 900));
    QCOMPARE(f.metrics.outHeight, 776.0f);
    QCOMPARE(f.ui->windowWillResize(QSize(1440, 870), 2.0f, 24.0), QSize(1440, 808));
    QCOMPARE(f.metrics.outWidth, 606.0f);
    QCOMPARE(f.metrics.screenHeight, 810);
}

void TstPlayerUi::zoomDoublesDisplayLabelsStay()
{
    Fixture f;
    f.loadSet({"a.jpg"}, 1); // portrait first photo
    PlayerControls& c = f.ui->controls();
    f.ui->setPhotoNumText("7");
    const QPoint numBefore = f.inContainer(c.photoNumLabel());
    const QPoint speedBefore = f.inContainer(c.playbackSpeedLabel());
    c.zoomInSlider()->setValue(1.0);
    c.zoomInSliderAction();
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), QRect(0, 1 - 392, 1176, 1568));
    QCOMPARE(f.ui->panels().imageView(1)->size(), QSize(1176, 1568));
    QCOMPARE(f.inContainer(c.photoNumLabel()), numBefore);
    QCOMPARE(f.inContainer(c.playbackSpeedLabel()), speedBefore);
    QCOMPARE(c.photoNumLabel()->text(), QStringLiteral("7"));
    // Pan moves the photo by the display's size times the value; Reset brings everything back.
    c.xSlider()->setValue(0.25);
    c.xSliderAction();
    QCOMPARE(f.ui->panels().imageView(1)->pos().x(), 147);
    QTest::mouseClick(c.resetSlidersButton(), Qt::LeftButton);
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), QRect(294, 1, 588, 784));
    QCOMPARE(f.ui->panels().imageView(1)->pos(), QPoint(0, 0));
    QCOMPARE(c.speedSlider()->value(), 0.0625);
}

void TstPlayerUi::zoomIgnoresLandscape()
{
    Fixture f;
    f.loadSet({"a.jpg"}, 1, 400, 300);
    PlayerControls& c = f.ui->controls();
    c.zoomInSlider()->setValue(1.0);
    c.zoomInSliderAction();
    c.xSlider()->setValue(0.5);
    c.xSliderAction();
    QCOMPARE(c.zoomInSlider()->value(), 1.0);
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), QRect(294, 1, 588, 784));
    QCOMPARE(f.ui->panels().imageView(1)->pos(), QPoint(0, 0));
}

void TstPlayerUi::maxOutFitsRawFirstPhoto()
{
    Fixture f;
    f.loadSet({"a.rgb"}, 1, 1512, 2016);
    PlayerControls& c = f.ui->controls();
    const float m = (1512.0f - 588.0f) / 588.0f;
    f.ui->setZoomSliderMaximum(m);
    f.ui->maxOutTheSliderAndImage(f.engine->state()._image[0]);
    QCOMPARE(c.zoomInSlider()->value(), double(m));
    QCOMPARE(f.ui->panels().renderView(1)->width(), 1512);
    // A photo as wide as the display gives zoom 0; a narrower one stays at 0 rather than shrinking.
    f.loadSet({"a.jpg"}, 1, 588, 784);
    f.ui->maxOutTheSliderAndImage(f.engine->state()._image[0]);
    QCOMPARE(c.zoomInSlider()->value(), 0.0);
    QCOMPARE(f.ui->panels().renderView(1)->width(), 588);
    f.loadSet({"a.jpg"}, 1, 300, 400);
    f.ui->maxOutTheSliderAndImage(f.engine->state()._image[0]);
    QCOMPARE(c.zoomInSlider()->value(), 0.0);
    QCOMPARE(f.ui->panels().renderView(1)->width(), 588);
    // The speed chosen before a set change survives the reset of the new set.
    f.engine->state()._transactionToTheNextSetWillOccur = true;
    f.engine->state()._speedSliderDoubleValue = 0.8f;
    f.ui->maxOutTheSliderAndImage(f.engine->state()._image[0]);
    QVERIFY(!f.engine->state()._transactionToTheNextSetWillOccur);
    QCOMPARE(f.engine->state()._playbackSpeed, 15);
}

void TstPlayerUi::speedSlider_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("speed");
    QTest::newRow("0.875") << 0.875 << 15;
    QTest::newRow("0.8751") << 0.8751 << 30;
    QTest::newRow("0.125") << 0.125 << 1;
    QTest::newRow("0.3") << 0.3 << 3;
}

void TstPlayerUi::speedSlider()
{
    QFETCH(double, value);
    QFETCH(int, speed);
    Fixture f;
    PlayerControls& c = f.ui->controls();
    QCOMPARE(c.speedSlider()->value(), 0.0625);
    c.speedSlider()->setValue(value);
    c.speedSliderAction();
    QCOMPARE(f.engine->state()._playbackSpeed, speed);
    QCOMPARE(f.engine->state()._timerTimeInterval, 1.0f / static_cast<float>(speed));
}

void TstPlayerUi::sliderMoveDuringPlaybackRearms()
{
    Fixture f;
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    f.timer->armed = true;
    // A drag on the knob: the slider's own notification, as the user's move sends it.
    c.speedSlider()->QSlider::setValue(c.speedSlider()->QSlider::maximum());
    QCOMPARE(c.speedSlider()->value(), 1.0);
    QCOMPARE(f.engine->state()._playbackSpeed, 30);
    QVERIFY(f.timer->armed);
    f.timer->armed = false;
    c.speedSlider()->QSlider::setValue(0);
    QCOMPARE(f.engine->state()._playbackSpeed, 1);
    QVERIFY(!f.timer->armed);
}

void TstPlayerUi::copyTwiceLeavesOne()
{
    Fixture f;
    f.loadSet({"IMG_0001.jpg", "IMG_0002.jpg", "IMG_0003.jpg"}, 2);
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    QVERIFY(c.saveAsPresetButton()->isVisible());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
    QTest::mouseClick(c.saveAsPresetButton(), Qt::LeftButton);
    QTest::mouseClick(c.saveAsPresetButton(), Qt::LeftButton);
    QCOMPARE(QDir(f.favourites).entryList(QDir::Files), QStringList{"IMG_0002.jpg"});
    QFile copy(f.favourites + "/IMG_0002.jpg");
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), QByteArray("IMG_0002.jpg"));
    QVERIFY(c.shareFavPhotosButton()->isVisible());
}

void TstPlayerUi::copyOnlyAPhotoOnDisplay()
{
    Fixture f;
    f.loadSet({"IMG_0001.jpg"}, 0);
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    // Before the set's first tick and before its first photo has landed nothing is on the display.
    f.engine->state()._image[0] = PhotoImage();
    c.copyFavPhotoAction();
    QVERIFY(QDir(f.favourites).isEmpty());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
    // Once the first photo has landed it is on the display before the set's first tick: Copy takes it.
    f.engine->state()._image[0] = PhotoImage::fromImage(QImage(4, 4, QImage::Format_RGB32), {});
    c.copyFavPhotoAction();
    QCOMPARE(QDir(f.favourites).entryList(QDir::Files), QStringList{"IMG_0001.jpg"});
    QVERIFY(QFile::remove(f.favourites + "/IMG_0001.jpg"));
    // An unreadable photo is not copied either.
    f.engine->state()._view1RenderPid = 1;
    QVERIFY(QFile::remove(f.downloads + "/IMG_0001.jpg"));
    c.copyFavPhotoAction();
    QVERIFY(QDir(f.favourites).isEmpty());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
}

void TstPlayerUi::shareOffersLastFavourite()
{
    Fixture f;
    // Recording stand-ins for the e-mail program; the messaging and nearby programs are missing.
    const QString bin = f.dir.filePath("bin");
    QDir().mkpath(bin);
    const QString record = f.dir.filePath("record.txt");
    const QString script = bin + "/xdg-email";
    QVERIFY(
        writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(record).toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.toUtf8());

    QVERIFY(writeFile(f.favourites + "/IMG_0001.jpg", "1"));
    QVERIFY(writeFile(f.favourites + "/IMG_0002.jpg", "2"));
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    QVERIFY(c.shareFavPhotosButton()->isVisible());
    // Share fires as the button goes down.
    QTest::mousePress(c.shareFavPhotosButton(), Qt::LeftButton);
    const auto menus = f.window.findChildren<QMenu*>();
    QCOMPARE(menus.size(), 1);
    QMenu* menu = menus.first();
    QTest::mouseRelease(c.shareFavPhotosButton(), Qt::LeftButton);
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("Messages"));
    QCOMPARE(actions[1]->text(), QStringLiteral("Mail"));
    QCOMPARE(actions[2]->text(), QStringLiteral("Nearby Device"));
    QVERIFY(!actions[0]->isEnabled());
    QVERIFY(actions[1]->isEnabled());
    QVERIFY(!actions[2]->isEnabled());
    actions[1]->trigger();
    const auto recorded = [&record] {
        QFile r(record);
        return r.open(QIODevice::ReadOnly) ? QString::fromUtf8(r.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList();
    };
    QTRY_COMPARE(recorded(), (QStringList{"--attach", f.favourites + "/IMG_0002.jpg"}));
    menu->close();
    qputenv("PATH", oldPath);
}

void TstPlayerUi::shareOffersClipBesideFavourite()
{
    Fixture f;
    const QString bin = f.dir.filePath("bin");
    QDir().mkpath(bin);
    const QString record = f.dir.filePath("record.txt");
    const QString script = bin + "/xdg-email";
    QVERIFY(
        writeFile(script, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > '%1'\n").arg(record).toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", bin.toUtf8());
    const auto recorded = [&record] {
        QFile r(record);
        return r.open(QIODevice::ReadOnly) ? QString::fromUtf8(r.readAll()).split('\n', Qt::SkipEmptyParts)
                                           : QStringList();
    };
    const auto pressShare = [&f] {
        PlayerControls& c = f.ui->controls();
        QTest::mousePress(c.shareFavPhotosButton(), Qt::LeftButton);
        QMenu* shown = nullptr;
        for (QMenu* m : f.window.findChildren<QMenu*>())
            if (m->isVisible())
                shown = m;
        QTest::mouseRelease(c.shareFavPhotosButton(), Qt::LeftButton);
        return shown;
    };
    const QString clip = f.dir.filePath("kro_001_001_01.mp4");
    QVERIFY(writeFile(clip, "clip"));

    // No favourite yet: the clip alone brings Share, which offers the three services for it.
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    QVERIFY(c.saveAsPresetButton()->isVisible());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
    c.setSharedClip(clip);
    QVERIFY(c.shareFavPhotosButton()->isVisible());
    // A popup may close (and delete itself) on its own while events are processed.
    QPointer<QMenu> menu = pressShare();
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 3);
    menu->actions()[1]->trigger();
    QTRY_COMPARE(recorded(), (QStringList{"--attach", clip}));
    if (menu)
        menu->close();
    QFile::remove(record);

    // With a favourite: each under its file name, the favourite first.
    QVERIFY(writeFile(f.favourites + "/IMG_0002.jpg", "2"));
    menu = pressShare();
    QVERIFY(menu);
    QStringList titles;
    for (QAction* a : menu->actions())
        titles << (a->isSeparator() ? "[" + a->text() + "]" : a->text());
    QCOMPARE(titles, (QStringList{"[IMG_0002.jpg]", "Messages", "Mail", "Nearby Device",
                                  "[kro_001_001_01.mp4]", "Messages", "Mail", "Nearby Device"}));
    menu->actions()[2]->trigger();
    QTRY_COMPARE(recorded(), (QStringList{"--attach", f.favourites + "/IMG_0002.jpg"}));
    if (menu)
        menu->close();
    QFile::remove(record);

    // A clip that has gone from the disk is not offered.
    QVERIFY(QFile::remove(clip));
    menu = pressShare();
    QVERIFY(menu);
    QCOMPARE(menu->actions().size(), 3);
    if (menu)
        menu->close();
    qputenv("PATH", oldPath);
}

void TstPlayerUi::pauseBringsFavouriteButtons()
{
    Fixture f;
    f.loadSet({"IMG_0001.jpg", "IMG_0002.jpg"}, 1);
    QVERIFY(writeFile(f.favourites + "/IMG_0009.jpg", "9"));
    PlayerControls& c = f.ui->controls();
    f.timer->armed = true;
    c.toolsButtonAction();
    f.ui->createControllerBar();
    QVERIFY(!c.saveAsPresetButton()->isVisible());
    QTest::mouseClick(f.ui->controllerBar()->button(PbCtlrView::Pause), Qt::LeftButton);
    QCOMPARE(f.forwarder.received, QList<int32_t>{1});
    QVERIFY(!f.timer->armed);
    QVERIFY(c.saveAsPresetButton()->isVisible());
    QVERIFY(c.shareFavPhotosButton()->isVisible());
    QTest::mouseClick(f.ui->controllerBar()->button(PbCtlrView::FwdOne), Qt::LeftButton);
    QVERIFY(!c.saveAsPresetButton()->isVisible());
    QVERIFY(!c.shareFavPhotosButton()->isVisible());
    QCOMPARE(f.engine->state()._view1RenderPid, 2);
}

void TstPlayerUi::keyboardTransport_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<int>("command");
    QTest::newRow("space") << int(Qt::Key_Space) << 0 << 1;
    QTest::newRow("right") << int(Qt::Key_Right) << 0 << 2;
    QTest::newRow("left") << int(Qt::Key_Left) << 0 << 3;
    QTest::newRow("end") << int(Qt::Key_End) << 0 << 4;
    QTest::newRow("home") << int(Qt::Key_Home) << 0 << 5;
    QTest::newRow("page up") << int(Qt::Key_PageUp) << 0 << 6;
    QTest::newRow("page down") << int(Qt::Key_PageDown) << 0 << 7;
    QTest::newRow("ctrl+right stays the menu's") << int(Qt::Key_Right) << int(Qt::ControlModifier) << 0;
    QTest::newRow("r is not transport") << int(Qt::Key_R) << 0 << 0;
}

void TstPlayerUi::keyboardTransport()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(int, command);
    Fixture f;
    f.ui->createControllerBar();
    f.ui->installTransportKeys(&f.window);
    QTest::keyClick(&f.window, static_cast<Qt::Key>(key), static_cast<Qt::KeyboardModifiers>(modifiers));
    QCOMPARE(f.forwarder.received, command ? QList<int32_t>{command} : QList<int32_t>{});
    // The bar's icon follows, as for a click: play/pause toggles, the others leave play shown.
    if (command)
        QCOMPARE(f.ui->controllerBar()->iconIsAtPause(), false);
}

void TstPlayerUi::spaceAfterFocusedControlHides()
{
    Fixture f;
    f.ui->createControllerBar();
    f.ui->installTransportKeys(&f.window);
    activate(&f.window);
    PlayerControls& c = f.ui->controls();
    // The user tabbed to Generate Playlist, then the panel switched: Space must not press the next
    // control in the focus chain (the order selector), it goes back to play/pause.
    c.playlistButton()->setFocus(Qt::TabFocusReason);
    QVERIFY(c.playlistButton()->hasFocus());
    c.toolsButtonAction();
    QVERIFY(!c.playlistButton()->isVisible());
    QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &f.window, Qt::Key_Space);
    QCOMPARE(f.forwarder.received, QList<int32_t>{1});
    QCOMPARE(c.fifoLifoSeg()->selectedSegment(), 1);
}

void TstPlayerUi::focusedSliderKeepsArrows()
{
    Fixture f;
    f.ui->createControllerBar();
    f.ui->installTransportKeys(&f.window);
    activate(&f.window);
    PlayerControls& c = f.ui->controls();
    c.toolsButtonAction();
    c.speedSlider()->setFocus(Qt::TabFocusReason);
    QVERIFY(c.speedSlider()->hasFocus());
    QTest::keyClick(c.speedSlider(), Qt::Key_Right);
    QVERIFY(f.forwarder.received.isEmpty());
    QVERIFY(c.speedSlider()->value() > 0.0625);
    // Space is still play/pause.
    QTest::keyClick(c.speedSlider(), Qt::Key_Space);
    QCOMPARE(f.forwarder.received, QList<int32_t>{1});
}

void TstPlayerUi::accessibleNames()
{
    Fixture f;
    PlayerControls& c = f.ui->controls();
    QCOMPARE(c.zoomInSlider()->accessibleName(), QStringLiteral("Zoom"));
    QCOMPARE(c.xSlider()->accessibleName(), QStringLiteral("Pan X"));
    QCOMPARE(c.ySlider()->accessibleName(), QStringLiteral("Pan Y"));
    QCOMPARE(c.speedSlider()->accessibleName(), QStringLiteral("Speed"));
    QCOMPARE(c.playlistButton()->accessibleName(), QStringLiteral("Generate Playlist"));
    QVERIFY(!c.saveAsPresetButton()->accessibleName().isEmpty());
    QVERIFY(!c.shareFavPhotosButton()->accessibleName().isEmpty());
    QVERIFY(!c.resetSlidersButton()->accessibleName().isEmpty());
}

void TstPlayerUi::labelsExposeTheirValue_data()
{
    QTest::addColumn<QString>("label"); // "photo", "speed", or "fps" and the position 0 to 2
    QTest::addColumn<QString>("text");  // shown; null: as built
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("value");
    QTest::newRow("photo number") << "photo"
                                  << "12"
                                  << "Photo number"
                                  << "12";
    QTest::newRow("photo number cleared") << "photo"
                                          << ""
                                          << "Photo number"
                                          << "";
    QTest::newRow("photos per second") << "speed"
                                       << "5"
                                       << "Photos per second"
                                       << "5";
    QTest::newRow("frame rate before the first frame") << "fps1" << QString() << "Frame rate, position 2"
                                                       << "no frames yet";
    QTest::newRow("frame rate, position 3") << "fps2"
                                            << "29.7 fps"
                                            << "Frame rate, position 3"
                                            << "29.7 fps";
}

void TstPlayerUi::labelsExposeTheirValue()
{
    QFETCH(QString, label);
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, value);
    Fixture f;
    LayerView renderView4(&f.window);
    MvcControlStrip strip;
    strip.configMvcSpeedLabels(&renderView4, 264, 786, 2.0f);
    QLabel* l = nullptr;
    if (label == QLatin1String("photo")) {
        f.ui->setPhotoNumText("7");
        f.ui->setPhotoNumText(text);
        l = f.ui->controls().photoNumLabel();
    } else if (label == QLatin1String("speed")) {
        f.ui->setPlaybackSpeedText(text);
        l = f.ui->controls().playbackSpeedLabel();
    } else {
        const int view = label.back().digitValue();
        if (!text.isNull())
            strip.setSpeedText(view, text);
        l = strip.speedLabel(view);
    }
    QVERIFY(l);
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(l);
    QVERIFY(a);
    QCOMPARE(a->text(QAccessible::Name), name);
    QCOMPARE(a->text(QAccessible::Description), value);
}

void TstPlayerUi::thumbnailFillsPanel()
{
    Fixture f;
    // A 16:9 source, red in its central 1000 columns and blue at the sides: the crop keeps the central
    // 909 columns, so a squeezed (uncropped) thumbnail would show blue at its edges.
    QImage wide(1600, 900, QImage::Format_RGB32);
    wide.fill(Qt::blue);
    for (int y = 0; y < 900; ++y)
        for (int x = 300; x < 1300; ++x)
            wide.setPixel(x, y, qRgb(255, 0, 0));
    PhotoImage photo = PhotoImage::fromImage(wide);
    f.ui->showImage(2, photo);
    const QImage shown = f.ui->panels().imageView(2)->image();
    // 264 x 261.33 points, covered by whole pixels.
    QCOMPARE(shown.deviceIndependentSize().toSize(), QSize(264, 262));
    QCOMPARE(QColor(shown.pixel(2, shown.height() / 2)), QColor(Qt::red));
    QCOMPARE(QColor(shown.pixel(shown.width() - 3, shown.height() / 2)), QColor(Qt::red));
    // The image view fills the panel: the thumbnail is drawn over the whole panel.
    const QRectF drawn = f.ui->panels().imageView(2)->imageRect();
    QVERIFY(drawn.width() >= 262.5 && drawn.height() >= 260.5);
    // A resize keeps the preview, fitted to the new panel.
    f.ui->windowWillResize(QSize(1700, 1003), 1.0f, 19.0);
    QCOMPARE(f.ui->panels().imageView(2)->image().deviceIndependentSize().toSize(),
             QSize(1700 - 2 * 738, 328));
}

void TstPlayerUi::containerGrowthKeepsBottomAnchor()
{
    Fixture f;
    f.ui->createControllerBar();
    const QRect bar = f.ui->controllerBar()->geometry();
    const QRect rv1 = f.ui->panels().renderView(1)->geometry();
    // The root view keeps its children's distance from its bottom edge, as bottom-left points do.
    f.container->resize(1440, 826);
    QCOMPARE(f.ui->controllerBar()->geometry(), bar.translated(0, 40));
    QCOMPARE(f.ui->panels().renderView(1)->geometry(), rv1.translated(0, 40));
    f.container->resize(1440, 786);
    QCOMPARE(f.ui->controllerBar()->geometry(), bar);
}

void TstPlayerUi::builtWhileHiddenThenShown()
{
    // As at start-up: the root view is sized to the display, the panels are built, the view becomes
    // the window's content (taller) and only then is shown.
    ContainerView container;
    container.resize(588, 784);
    ScreenMetrics metrics = ScreenMetricsCalc::compute({2.0f, 1440, 900, 1440, 875, 24});
    PlayerUi ui(&container, &metrics);
    ui.setLayoutModeSource([] { return LayoutMode{true, false, 2, false}; });
    ui.configRenderView1();
    ui.configRenderView2();
    ui.configRenderView3();
    ui.configRenderView4();
    container.resize(1440, 786);
    container.show();
    QVERIFY(QTest::qWaitForWindowExposed(&container));
    QCOMPARE(ui.panels().renderView(1)->geometry(), QRect(294, 1, 588, 784));
    QCOMPARE(ui.panels().renderView(4)->geometry().bottom() + 1, 785);
}

void TstPlayerUi::mainDisplayShowsPreparedCopies()
{
    Fixture f;
    const QString path = f.downloads + "/photo.jpg";
    QImage photo(300, 400, QImage::Format_RGB32);
    photo.fill(Qt::darkGreen);
    QVERIFY(photo.save(path, "JPEG"));
    ImageView* iv = f.ui->panels().imageView(1);
    // Not prepared yet: the display stays empty rather than decoding on the main thread.
    f.ui->showImage(1, PhotoImage::fromFile(path, {}, QSize(300, 400)));
    QVERIFY(iv->image().isNull());
    // A prepared copy stands for the whole photo: it is shown at the photo's size when that
    // stretches it by no more than 1.25 times.
    QImage copy(240, 320, QImage::Format_RGB32);
    copy.fill(Qt::darkGreen);
    f.ui->showImage(1, PhotoImage::fromFile(path, copy, QSize(300, 400)));
    QCOMPARE(iv->image().deviceIndependentSize(), QSizeF(300, 400));
    QCOMPARE(iv->imageRect(), QRectF((588 - 300) / 2.0, (784 - 400) / 2.0, 300, 400));
    // A half-size copy is shown at 1.25 times its pixels until a larger copy lands, not blurred.
    QImage half(150, 200, QImage::Format_RGB32);
    half.fill(Qt::darkGreen);
    f.ui->showImage(1, PhotoImage::fromFile(path, half, QSize(300, 400)));
    QCOMPARE(iv->image().deviceIndependentSize(), QSizeF(187.5, 250));
    QCOMPARE(iv->imageRect(), QRectF((588 - 187.5) / 2.0, (784 - 250) / 2.0, 187.5, 250));
    // A converted raw frame is at hand and shown as it is; a null photo clears the display.
    f.ui->showImage(1, PhotoImage::fromImage(photo));
    QCOMPARE(iv->image().size(), QSize(300, 400));
    f.ui->showImage(1, PhotoImage());
    QVERIFY(iv->image().isNull());
}

void TstPlayerUi::progressText_data()
{
    QTest::addColumn<int>("phase");
    QTest::addColumn<int>("done");
    QTest::addColumn<int>("total");
    QTest::addColumn<QString>("text");
    using P = PlaylistProgress::Phase;
    QTest::newRow("listing") << int(P::Listing) << 0 << 0 << "Looking through Downloads";
    QTest::newRow("third container under way")
        << int(P::Unpacking) << 2 << 12 << "Unpacking 3 of 12 containers";
    QTest::newRow("one container") << int(P::Unpacking) << 0 << 1 << "Unpacking 1 of 1 container";
    QTest::newRow("17th frame under way")
        << int(P::Decompressing) << 16 << 45 << "Decompressing 17 of 45 raw frames";
    QTest::newRow("all frames done") << int(P::Decompressing) << 45 << 45
                                     << "Decompressing 45 of 45 raw frames";
    QTest::newRow("sets") << int(P::Checking) << 4 << 9 << "Checking 9 sets";
    QTest::newRow("one set") << int(P::Checking) << 0 << 1 << "Checking 1 set";
}

void TstPlayerUi::progressText()
{
    QFETCH(int, phase);
    QFETCH(int, done);
    QFETCH(int, total);
    QFETCH(QString, text);
    QCOMPARE(PlayerControls::progressText({static_cast<PlaylistProgress::Phase>(phase), done, total}), text);
}

void TstPlayerUi::runningPassStops_data()
{
    QTest::addColumn<bool>("escape"); // else Generate Playlist, brought back by a resize, is pressed
    QTest::newRow("Escape") << true;
    QTest::newRow("Generate Playlist again") << false;
}

void TstPlayerUi::runningPassStops()
{
    QFETCH(bool, escape);
    Fixture f;
    f.ui->installTransportKeys(&f.window);
    activate(&f.window);
    // Enough raw frames that the pass is still at work when it is stopped.
    QByteArray frame(4 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<char>((i * 7919) >> 5);
    for (int i = 1; i <= 40; ++i) {
        QVERIFY(writeFile(f.downloads + QStringLiteral("/kro_09_%1_01.rgb2").arg(i, 3, 10, QLatin1Char('0')),
                          Lz4FrameEncoder::encode(frame)));
    }
    f.engine->state()._pathToDownloadsDir = f.downloads;
    PlayerControls& c = f.ui->controls();
    QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    QVERIFY(f.engine->playlistPassRunning());
    QVERIFY(c.playlistButton()->isHidden());
    QVERIFY(c.passStatusLabel()->isVisible());
    QVERIFY(c.passProgressBar()->isVisible());
    QCOMPARE(c.passStatusLabel()->text(), QStringLiteral("Looking through Downloads"));

    if (escape) {
        QTest::keyClick(&f.window, Qt::Key_Escape);
    } else {
        f.ui->windowWillResize({1440, 786}, 2.0f, 24);
        QVERIFY(c.playlistButton()->isVisible());
        QVERIFY(!c.passProgressBar()->isVisible()); // the bar yields the button's place
        QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    }
    QCOMPARE(c.passStatusLabel()->text(), QStringLiteral("Stopping after the file at hand\u2026"));
    QTRY_VERIFY_WITH_TIMEOUT(!f.engine->playlistPassRunning(), 10000);
    QCOMPARE(c.passStatusLabel()->text(), QStringLiteral("Stopped; no playlist made"));
    QVERIFY(c.passStatusLabel()->isVisible());
    QVERIFY(!c.passProgressBar()->isVisible());
    QVERIFY(c.playlistButton()->isVisible());
    QVERIFY(f.engine->state()._sortedListv2.isEmpty());
    // Stopped before the end: some frames are still compressed.
    QVERIFY(!QDir(f.downloads).entryList({"*.rgb2"}).isEmpty());
}

// After a pass over HEIC sets, the playlist panel counts the sets prepared for their first play;
// pausing prepares the rest.
void TstPlayerUi::setsReadyShowInPlaylistPanel()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder for HEIC fixtures");
    Fixture f;
    QTemporaryDir cacheDir;
    f.engine->setDiskCache(std::make_shared<PhotoDiskCache>(cacheDir.path()));
    // At the lowest priority a busy machine could starve the copies this test waits for.
    f.engine->pipeline().setDiskCopiesAtLowestPriority(false);
    for (int set = 1; set <= 2; ++set) {
        for (int i = 1; i <= 10; ++i) {
            const QString name =
                QStringLiteral("/kro_00%1_%2_01.heic").arg(set).arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(fixtures::makeHeic(f.downloads + name,
                                       i == 1 || i == 10 ? fixtures::signature() : QString(), {96, 128},
                                       set * 10 + i));
        }
    }
    f.engine->state()._pathToDownloadsDir = f.downloads;
    PlayerControls& c = f.ui->controls();
    QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    // The first set plays once its display step (queued at the pass's end) has run; the display's
    // end-of-pass step (the tools panel) is queued behind it.
    QTRY_VERIFY_WITH_TIMEOUT(!f.engine->playlistPassRunning() && f.engine->renderTimerRunning(), 10000);
    QCoreApplication::processEvents();
    QCOMPARE(f.engine->state()._numOfSets, 2);
    if (c._toolsEn)
        c.toolsButtonAction(); // the playlist panel
    QVERIFY(c.passStatusLabel()->isVisible());
    QVERIFY(c.passStatusLabel()->text().endsWith(QStringLiteral(" of 2 sets ready")));

    f.engine->toContainerVCFromPbCtlrView(TransportCommand::PlayPause);
    QVERIFY(!f.engine->renderTimerRunning());
    QTRY_COMPARE_WITH_TIMEOUT(c.passStatusLabel()->text(), QStringLiteral("2 of 2 sets ready"), 20000);
    QCOMPARE(c.passStatusLabel()->accessibleName(), QStringLiteral("2 of 2 sets ready"));
    QVERIFY(c.passStatusLabel()->isVisible());

    // A new pass clears the count.
    QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    QVERIFY(!c.passStatusLabel()->text().contains(QStringLiteral("sets ready")));
}

void TstPlayerUi::passFindingNothingSaysWhy()
{
    Fixture f;
    for (int i = 1; i <= 6; ++i)
        QVERIFY(writeFile(f.downloads + QStringLiteral("/kro_003_%1_01.jpg").arg(i, 3, 10, QLatin1Char('0')),
                          "x"));
    f.engine->state()._pathToDownloadsDir = f.downloads;
    PlayerControls& c = f.ui->controls();
    QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!f.engine->playlistPassRunning(), 10000);
    QVERIFY(c.nothingPlayableLabel());
    QVERIFY(c.nothingPlayableLabel()->isVisible());
    QCOMPARE(c.nothingPlayableLabel()->text(),
             QStringLiteral(
                 "No signed set of at least 10 photos found (most often: fewer than 10 photos in a set)"));
    QVERIFY(!c.passStatusLabel()->isVisible());
    QVERIFY(!c.passProgressBar()->isVisible());
    // It survives a resize, and the next press takes it away.
    f.ui->windowWillResize({1440, 786}, 2.0f, 24);
    QVERIFY(c.nothingPlayableLabel() && c.nothingPlayableLabel()->isVisible());
    c.toolsButtonAction(); // back to the playlist panel
    QTest::mouseClick(c.playlistButton(), Qt::LeftButton);
    QVERIFY(!c.nothingPlayableLabel());
    QTRY_VERIFY_WITH_TIMEOUT(!f.engine->playlistPassRunning(), 10000);
}

// A raw frame zoomed to the largest zoom (render view 1 as wide as the frame) is painted from its full
// bitmap at 1:1, not from the display-sized copy stretched; unzoomed, the copy is painted.
void TstPlayerUi::zoomedRawFramePaintsFullFrame()
{
    Fixture f;
    f.loadSet({"a.rgb"}, 1, 1512, 2016);
    QImage frame(1512, 2016, QImage::Format_RGB32);
    frame.fill(Qt::darkRed);
    const PhotoImage photo = PhotoImage::fromImage(frame, frame.scaled(588, 784));
    f.engine->state()._image[0] = photo;
    ImageView* iv = f.ui->panels().imageView(1);
    f.ui->showImage(1, photo);
    QCOMPARE(iv->image().size(), QSize(588, 784));
    f.ui->setZoomSliderMaximum((1512.0f - 588.0f) / 588.0f);
    f.ui->maxOutTheSliderAndImage(photo);
    QCOMPARE(iv->width(), 1512);
    QCOMPARE(iv->image().size(), QSize(1512, 2016));
    QCOMPARE(iv->imageRect(), QRectF(0, 0, 1512, 2016));
    // Back to no zoom: the copy again.
    f.ui->resetSliders();
    QCOMPARE(iv->image().size(), QSize(588, 784));
    // A frame known by its copy alone is shown from the copy at no more than 1.25 times its pixels,
    // not stretched to the frame's size, until the full frame lands; the paused display then paints
    // from the frame.
    const PhotoImage copyOnly = PhotoImage::fromFrameCopy(frame.scaled(588, 784), frame.size());
    f.engine->state()._image[0] = copyOnly;
    f.ui->showImage(1, copyOnly);
    f.ui->maxOutTheSliderAndImage(copyOnly);
    QCOMPARE(iv->image().size(), QSize(588, 784));
    QCOMPARE(iv->imageRect(), QRectF((1512 - 735) / 2.0, (2016 - 980) / 2.0, 735, 980));
    Q_EMIT f.engine->pipeline().slotCompleted(1, photo);
    QCOMPARE(iv->image().size(), QSize(1512, 2016));
    QVERIFY(f.engine->state()._image[0].fullImage().cacheKey() == frame.cacheKey());
}

void TstPlayerUi::titlesByScale_data()
{
    QTest::addColumn<float>("scale");
    QTest::addColumn<QString>("control");
    QTest::addColumn<QString>("title"); // segment labels joined by "|"
    for (const float scale : {2.0f, 1.0f}) {
        const bool retina = scale == 2.0f;
        const QByteArray s = retina ? "scale 2: " : "scale 1: ";
        QTest::newRow(s + "copy") << scale << "copy" << (retina ? "Copy" : "Copy\n Fav Photo");
        QTest::newRow(s + "share") << scale << "share" << (retina ? "Share" : "Share\n Fav Photo");
        QTest::newRow(s + "reset") << scale << "reset" << (retina ? "Reset" : "Reset\n Sliders");
        QTest::newRow(s + "caption") << scale << "caption"
                                     << "Portrait Sets in ~/Downloads";
        QTest::newRow(s + "format") << scale << "format"
                                    << "JPEG|HEIC|RGB|ALL";
        QTest::newRow(s + "order") << scale << "order"
                                   << "FIFO|LIFO";
    }
}

void TstPlayerUi::titlesByScale()
{
    QFETCH(float, scale);
    QFETCH(QString, control);
    QFETCH(QString, title);
    Fixture f(scale);
    const PlayerControls& c = f.ui->controls();
    const auto segments = [](const SegmentedControl* seg) {
        QStringList labels;
        for (int i = 0; i < seg->segmentCount(); ++i)
            labels << seg->label(i);
        return labels.join(QLatin1Char('|'));
    };
    QString shown;
    if (control == QLatin1String("copy"))
        shown = c.saveAsPresetButton()->text();
    else if (control == QLatin1String("share"))
        shown = c.shareFavPhotosButton()->text();
    else if (control == QLatin1String("reset"))
        shown = c.resetSlidersButton()->text();
    else if (control == QLatin1String("caption"))
        shown = c.playlistLabel()->text();
    else if (control == QLatin1String("format"))
        shown = segments(c.jpegHeicRgbAllSeg());
    else
        shown = segments(c.fifoLifoSeg());
    QCOMPARE(shown, title);
}

void TstPlayerUi::sliderRanges_data()
{
    QTest::addColumn<QString>("slider");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<double>("start");
    QTest::newRow("zoom") << "zoom" << 0.0 << 1.0 << 0.0;
    QTest::newRow("pan x") << "x" << -0.5 << 0.5 << 0.0;
    QTest::newRow("pan y") << "y" << -0.5 << 0.5 << 0.0;
    QTest::newRow("speed") << "speed" << 0.0 << 1.0 << 0.0625;
}

void TstPlayerUi::sliderRanges()
{
    QFETCH(QString, slider);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(double, start);
    Fixture f;
    const PlayerControls& c = f.ui->controls();
    const FloatSlider* s = slider == QLatin1String("zoom") ? c.zoomInSlider()
                           : slider == QLatin1String("x")  ? c.xSlider()
                           : slider == QLatin1String("y")  ? c.ySlider()
                                                           : c.speedSlider();
    QCOMPARE(s->minimum(), minimum);
    QCOMPARE(s->maximum(), maximum);
    QCOMPARE(s->value(), start);
}

// Pan on the 588 x 784 display: x moves the photo by 588 x value, y by 784 x value, both in points
// from the bottom left (so a positive y moves it up on screen); a landscape first photo stays put.
void TstPlayerUi::panMovesPhoto_data()
{
    QTest::addColumn<bool>("portrait");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");
    QTest::addColumn<QPoint>("position"); // image view 1's top left in render view 1
    QTest::newRow("y up a quarter") << true << 0.0 << 0.25 << QPoint(0, -196);
    QTest::newRow("y down to the end") << true << 0.0 << -0.5 << QPoint(0, 392);
    QTest::newRow("y up to the end") << true << 0.0 << 0.5 << QPoint(0, -392);
    QTest::newRow("y keeps x") << true << 0.25 << -0.25 << QPoint(147, 196);
    QTest::newRow("landscape stays") << false << 0.25 << 0.25 << QPoint(0, 0);
}

void TstPlayerUi::panMovesPhoto()
{
    QFETCH(bool, portrait);
    QFETCH(double, x);
    QFETCH(double, y);
    QFETCH(QPoint, position);
    Fixture f;
    if (portrait)
        f.loadSet({"a.jpg"}, 1);
    else
        f.loadSet({"a.jpg"}, 1, 400, 300);
    PlayerControls& c = f.ui->controls();
    c.xSlider()->setValue(x);
    c.xSliderAction();
    c.ySlider()->setValue(y);
    c.ySliderAction();
    QCOMPARE(f.ui->panels().imageView(1)->pos(), position);
    QCOMPARE(f.ui->panels().imageView(1)->size(), QSize(588, 784));
}

void TstPlayerUi::mainCopySize_data()
{
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<QSizeF>("points");
    QTest::addColumn<double>("dpr");
    QTest::addColumn<QSize>("pixels");
    const QSize portrait(3024, 4032), landscape(4032, 3024);
    QTest::newRow("portrait, ratio 1: zoomed to twice the display")
        << portrait << QSizeF(588, 784) << 1.0 << QSize(1176, 1568);
    QTest::newRow("portrait, ratio 2: twice the display in device pixels")
        << portrait << QSizeF(588, 784) << 2.0 << QSize(2352, 3136);
    QTest::newRow("portrait, ratio 1.5") << portrait << QSizeF(588, 784) << 1.5 << QSize(1764, 2352);
    QTest::newRow("landscape: not zoomed") << landscape << QSizeF(588, 784) << 1.0 << QSize(588, 784);
    QTest::newRow("landscape, ratio 2") << landscape << QSizeF(588, 784) << 2.0 << QSize(1176, 1568);
    QTest::newRow("portrait a little wider than the display: zoomed to its width")
        << QSize(768, 1024) << QSizeF(588, 784) << 1.0 << QSize(768, 1024);
    QTest::newRow("portrait narrower than the display: not zoomed")
        << QSize(300, 400) << QSizeF(588, 784) << 2.0 << QSize(1176, 1568);
    QTest::newRow("fractions round up") << landscape << QSizeF(588.25, 784.5) << 1.0 << QSize(589, 785);
}

// JPEG and HEIC copies cover image view 1 in device pixels at the zoom the set starts with, so a set
// plays without asking for larger copies.
void TstPlayerUi::mainCopySize()
{
    QFETCH(QSize, photo);
    QFETCH(QSizeF, points);
    QFETCH(double, dpr);
    QFETCH(QSize, pixels);
    QCOMPARE(PlayerUi::defaultViewPixelSize(photo, points, dpr), pixels);
}

QTEST_MAIN(TstPlayerUi)
#include "tst_PlayerUi.moc"
