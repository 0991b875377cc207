// The capture master inside the program: the dialog with a code, the control strip, frames from a
// simulated phone in their position, the shutter button, presentation modes and colours, recording
// from the menu.
#include "PhoneSim.h"
#include "app/AppDelegate.h"
#include "app/ContainerVC.h"
#include "decode/Lz4FrameEncoder.h"
#include "modes/MvcDialog.h"
#include "mvc/MvcControlStripLayout.h"
#include "mvc/MvcMaster.h"
#include "mvc/MvcMsgHeader.h"
#include "platform/Alert.h"
#include "platform/ContainerView.h"
#include "platform/MainWindow.h"
#include "platform/UserDefaults.h"
#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/MvcControlStrip.h"
#include "ui/MvcRecordingIndicator.h"
#include "ui/MvcRecordingUi.h"
#include "ui/PlayerUi.h"
#include "ui/RenderPanels.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>

using namespace qr;

namespace {

// Answers the chooser with "Multi View Capture (Master)" and the capture dialog with `code` and
// the button `dialogAnswer`.
void answerAlerts(const QString& code, int dialogAnswer)
{
    Alert::setResponder([code, dialogAnswer](Alert& a) {
        if (a.messageText == QLatin1String("Multi View Capture")) {
            if (auto* field = qobject_cast<QLineEdit*>(a.accessoryView))
                field->setText(code);
            return dialogAnswer;
        }
        return Alert::kFirstButtonReturn + 1; // the chooser's second choice
    });
}

// A simulated phone on loopback streaming to position `view` (0 to 2); it is the master's
// `slot`-th (0 to 2) connection.
std::unique_ptr<PhoneSim> startPhone(MvcMaster* master, int slot, int view)
{
    PhoneSim::Options o;
    o.port = master->serverPort();
    o.width = 64;
    o.height = 48;
    o.view = view;
    o.orientation = 1;
    o.fps = 30;
    o.expectedCode = QByteArray::fromHex("040007010903");
    auto phone = std::make_unique<PhoneSim>(o);
    phone->start();
    if (!QTest::qWaitFor([&] { return master->slotTable().slot(slot).ready; }, 10000))
        return nullptr;
    // Connections of one host accepted less than 1 ms apart are one phone's connection race: the
    // next phone comes later.
    QElapsedTimer since;
    since.start();
    while (since.nsecsElapsed() <= 2'000'000)
        QTest::qWait(1);
    return phone;
}

// One frame message of the test pattern for position `view`, as a phone sends it.
QByteArray frameMessage(int view, int n, int width = 320, int height = 240)
{
    const QByteArray payload = Lz4FrameEncoder::encode(PhoneSim::testPatternRgb(width, height, n));
    MvcMsgHeader h;
    h.ver = 1;
    h.posOrient = std::uint8_t(view << 4 | 1);
    h.mvcLen = std::uint32_t(payload.size());
    h.width = std::uint16_t(width);
    h.height = std::uint16_t(height);
    const auto bytes = h.serialize();
    return QByteArray(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size())) + payload;
}

} // namespace

class TestMvcApp : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase();
    void cleanup() { Alert::setResponder(nullptr); }
    void proceedWithCodeStreamsAndShutters();
    void proceedWithoutCodeShowsLayoutOnly();
    void saveChangesStoresCode();
    void resizeRebuildsCaptureStrip_data();
    void resizeRebuildsCaptureStrip();
    void stoppedStreamIsMarkedStale();
    void recordingFromTheMenu();
};

void TestMvcApp::initTestCase()
{
    // The program advertises on every multicast interface: only where those are none of the
    // machine's real ones.
    if (qgetenv("QR_IN_NETNS") != "1")
        QSKIP("needs the loopback-only network namespace of run-in-netns.sh");
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (m_home.path() + "/.config").toUtf8());
    qputenv("XDG_DATA_HOME", (m_home.path() + "/.local/share").toUtf8());
    QCoreApplication::setOrganizationName("Quintaray");
    QCoreApplication::setApplicationName("quintaray-tv-studio-mvc-test");
}

void TestMvcApp::proceedWithCodeStreamsAndShutters()
{
    answerAlerts(QStringLiteral("407193"), MvcDialog::Proceed);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ContainerVC* vc = delegate.containerVC();
    QVERIFY(vc->_modes._mvcModeEn);
    QVERIFY(vc->_mvc._master);
    QVERIFY(vc->_mvc._master->isListening());
    QVERIFY(vc->_mvc._strip);
    MvcControlStrip* strip = vc->_mvc._strip.get();
    QCOMPARE(strip->shutterButton(0)->accessibleName(), QStringLiteral("Shutter, position 1"));
    QCOMPARE(strip->indicator(2)->accessibleDescription(), QStringLiteral("not connected"));
    QCOMPARE(strip->speedLabel(1)->text(), QStringLiteral("xx.x fps"));
    QCOMPARE(strip->indicator(0)->backgroundColour(), QColor(128, 128, 128));

    PhoneSim::Options o;
    o.port = vc->_mvc._master->serverPort();
    o.width = 64;
    o.height = 48;
    o.view = 1;
    o.orientation = 0;
    o.fps = 30;
    o.expectedCode = QByteArray::fromHex("040007010903");
    PhoneSim phone(o);
    phone.start();
    auto shownAt = [vc](int position) {
        return vc->_playerUi->panels().imageView(position)->image();
    };
    QTRY_VERIFY_WITH_TIMEOUT(!shownAt(2).isNull(), 10000);
    QCOMPARE(shownAt(2).size(), QSize(48, 64));
    QVERIFY(shownAt(1).isNull());
    QTRY_VERIFY_WITH_TIMEOUT(strip->speedLabel(1)->text().endsWith(QLatin1String(" fps")) &&
                                 strip->speedLabel(1)->text() != QLatin1String("xx.x fps"),
                             5000);
    QCOMPARE(strip->speedLabel(0)->text(), QStringLiteral("xx.x fps"));
    // The phone's ready colour follows it to the position it asked for.
    QCOMPARE(strip->indicator(1)->accessibleDescription(), QStringLiteral("ready"));
    QVERIFY(strip->speedLabel(1)->fontMetrics().horizontalAdvance(QStringLiteral("00.0 fps")) <= 60);

    QSignalSpy shutter(&phone, &PhoneSim::shutterReceived);
    strip->shutterButton(0)->click(); // nobody asked for position 1
    strip->shutterButton(1)->click();
    QVERIFY(shutter.wait(5000));
    QCOMPARE(shutter.size(), 1);
    QCOMPARE(shutter[0][0].toByteArray(), QByteArray::fromHex("0400070109030100"));

    // "MVC Mode #1": tiling 0, the image stays in its position; the strip starts over.
    phone.finish();
    QTRY_VERIFY_WITH_TIMEOUT(vc->_mvc._master->slotTable().slot(0).waitingForRestart, 5000);
    // The close request turns the indicator of the phone's position orange.
    QTRY_COMPARE_WITH_TIMEOUT(strip->indicator(1)->accessibleDescription(), QStringLiteral("cancelled"),
                              5000);
    QCOMPARE(strip->indicator(1)->backgroundColour().red(), 255);
    QCOMPARE(strip->indicator(1)->backgroundColour().blue(), 0);
    QVERIFY(qAbs(strip->indicator(1)->backgroundColour().green() - 128) <= 1);
    // Taken only now, with no event handled until the rebuild is done: a frame still decoding when
    // the phone finished may land after its close request.
    const qint64 key = shownAt(2).cacheKey();
    vc->menuPresentationMode1();
    QCOMPARE(vc->_mvc._mvcPresentationMode, 0);
    QCOMPARE(shownAt(2).cacheKey(), key);
    QCOMPARE(strip->indicator(0)->accessibleDescription(), QStringLiteral("not connected"));
    QCOMPARE(strip->speedLabel(1)->text(), QStringLiteral("xx.x fps"));
    const QRect rv1 = vc->_playerUi->panels().renderView(1)->geometry();
    const QRect rv4 = vc->_playerUi->panels().renderView(4)->geometry();
    QCOMPARE(rv1.height(), rv4.height()); // four columns
    QVERIFY(rv4.x() > rv1.x());

    // Colours twice: back to the first colours; each slot's last image goes to its own position.
    vc->menuToggleColors();
    QVERIFY(vc->_mvc._mvcToggleColorsMode);
    QCOMPARE(vc->_playerUi->panels().renderView(1)->backgroundColour(), QColor(255, 0, 0));
    QCOMPARE(shownAt(1).cacheKey(), key); // slot 1's image in position 1
    vc->menuToggleColors();
    QVERIFY(!vc->_mvc._mvcToggleColorsMode);
    QCOMPARE(vc->_playerUi->panels().renderView(1)->backgroundColour(), QColor(64, 64, 64));

    // The menu commands do nothing while the media player is active.
    vc->_modes._mediaPlayerModeEn = true;
    vc->menuPresentationMode3();
    QCOMPARE(vc->_mvc._mvcPresentationMode, 0);
}

void TestMvcApp::proceedWithoutCodeShowsLayoutOnly()
{
    answerAlerts(QString(), MvcDialog::Proceed);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ContainerVC* vc = delegate.containerVC();
    QVERIFY(vc->_modes._mvcModeEn);
    QVERIFY(!vc->_mvc._master); // no listener, no advertisement
    QVERIFY(vc->_mvc._strip);
    for (int n = 0; n < 3; ++n)
        QCOMPARE(vc->_mvc._strip->indicator(n)->accessibleDescription(), QStringLiteral("not connected"));
}

void TestMvcApp::saveChangesStoresCode()
{
    answerAlerts(QStringLiteral("135792"), MvcDialog::SaveChanges);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ContainerVC* vc = delegate.containerVC();
    QVERIFY(!vc->_modes._mvcModeEn);
    QVERIFY(!vc->_mvc._master);
    QCOMPARE(UserDefaults::stringForKey(QStringLiteral("quintarayTvForMacSecretCode")),
             QStringLiteral("135792"));
    QCOMPARE(vc->_settings._tf.fields(), (std::array<int32_t, 6>{1, 3, 5, 7, 9, 2}));
}

void TestMvcApp::resizeRebuildsCaptureStrip_data()
{
    QTest::addColumn<QSize>("proposed");
    QTest::addColumn<int>("menuMode"); // "MVC Mode #N"
    QTest::newRow("1760 x 990, two columns and two quadrants") << QSize(1760, 990) << 3;
    QTest::newRow("below the minimum") << QSize(1200, 700) << 3;
    QTest::newRow("standard width 1920") << QSize(1920, 1080) << 3;
    QTest::newRow("four columns") << QSize(2400, 1350) << 1;
    QTest::newRow("four quadrants") << QSize(1700, 956) << 2;
    QTest::newRow("two quadrants and two columns") << QSize(1760, 990) << 4;
}

// After a resize every position keeps its frame and the capture strip is rebuilt inside the new
// render view 4, nothing over it: each shutter button, clicked at its centre or in its upper or
// lower half, reaches the phone of its position.
void TestMvcApp::resizeRebuildsCaptureStrip()
{
    QFETCH(QSize, proposed);
    QFETCH(int, menuMode);
    answerAlerts(QStringLiteral("407193"), MvcDialog::Proceed);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ContainerVC* vc = delegate.containerVC();
    MainWindow* window = delegate.window();
    QVERIFY(vc->_mvc._master);
    QTRY_VERIFY_WITH_TIMEOUT(!window->isPlacing(), 5000);
    vc->setMvcPresentationMode(menuMode);
    RenderPanels& panels = vc->_playerUi->panels();

    std::array<std::unique_ptr<PhoneSim>, 3> phones;
    for (int v = 0; v < 3; ++v) {
        phones[size_t(v)] = startPhone(vc->_mvc._master.get(), v, v);
        QVERIFY(phones[size_t(v)]);
    }
    for (int v = 0; v < 3; ++v)
        QTRY_VERIFY_WITH_TIMEOUT(
            !panels.imageView(v + 1)->image().isNull() && vc->_mvc._master->rxConnForView(v), 10000);

    // The rebuild itself, as the window's resize hook runs it: each position keeps its frame.
    std::array<qint64, 3> before{};
    for (int v = 0; v < 3; ++v)
        before[size_t(v)] = panels.imageView(v + 1)->image().cacheKey();
    const QSize answer = vc->windowWillResize(proposed);
    for (int v = 0; v < 3; ++v)
        QCOMPARE(panels.imageView(v + 1)->image().cacheKey(), before[size_t(v)]);

    // The window takes the answered size and the layout follows it.
    window->resize(answer);
    QWidget* container = vc->_containerView;
    QTRY_COMPARE_WITH_TIMEOUT(container->width(), answer.width(), 5000);
    LayerView* rv4 = panels.renderView(4);
    QVERIFY(rv4);
    const float scale = vc->_screen.screenScaleFactor;
    const auto strip = MvcControlStripLayout::compute(rv4->width(), rv4->height(), scale);
    MvcControlStrip* s = vc->_mvc._strip.get();
    // The four panels fill the area below the menu bar, render view 4 in the tiling's place.
    QRect tiled;
    for (int n = 1; n <= 4; ++n)
        tiled |= panels.renderView(n)->geometry();
    QVERIFY2(qAbs(tiled.top()) <= 2 && qAbs(tiled.bottom() - container->rect().bottom()) <= 2 &&
                 tiled.left() == 0 && qAbs(tiled.right() - container->rect().right()) <= 1,
             qPrintable(QStringLiteral("panels (%1, %2) to (%3, %4) in a container of %5 x %6")
                            .arg(tiled.left())
                            .arg(tiled.top())
                            .arg(tiled.right())
                            .arg(tiled.bottom())
                            .arg(container->width())
                            .arg(container->height())));
    const int cw = vc->_screen.screenWidth;
    // Modes 1 and 4 end in a quarter-width column, 2 and 3 in a half-width quadrant.
    const bool column = menuMode == 1 || menuMode == 4;
    const QRect expected4 = column ? QRect(3 * cw / 4, 0, cw / 4, 0) : QRect(cw / 2, 0, cw / 2, 0);
    QVERIFY2(qAbs(rv4->x() - expected4.x()) <= 1 && qAbs(rv4->width() - expected4.width()) <= 1,
             qPrintable(QStringLiteral("render view 4 at x %1, %2 wide").arg(rv4->x()).arg(rv4->width())));

    std::array<QSignalSpy*, 3> shutters{};
    std::vector<std::unique_ptr<QSignalSpy>> spies;
    for (int v = 0; v < 3; ++v) {
        spies.push_back(std::make_unique<QSignalSpy>(phones[size_t(v)].get(), &PhoneSim::shutterReceived));
        shutters[size_t(v)] = spies.back().get();
    }
    QSignalSpy pressed(s, &MvcControlStrip::shutterPressed);
    for (int n = 0; n < 3; ++n) {
        QPushButton* button = s->shutterButton(n);
        QVERIFY(button);
        QCOMPARE(button->parentWidget(), rv4);
        const QPoint centre = button->geometry().center();
        QVERIFY(qAbs(centre.x() - rv4->width() * (n + 1) / 4) <= 1);
        QVERIFY(qAbs(centre.y() - rv4->height() / 2) <= 1);
        QCOMPARE(button->width(), int(strip.shutterButtons[size_t(n)].width));
        const int reach = int(button->width() * 0.3);
        // Whatever is under the pointer at these points is the button: a click there is its click.
        for (const QPoint& at : {centre, centre - QPoint(0, reach), centre + QPoint(0, reach)}) {
            const QPoint inContainer = rv4->mapTo(container, at);
            QWidget* hit = container->childAt(inContainer);
            QVERIFY2(hit == button, qPrintable(QStringLiteral("position %1: %2 at (%3, %4)")
                                                   .arg(n + 1)
                                                   .arg(hit ? hit->metaObject()->className() : "nothing")
                                                   .arg(at.x())
                                                   .arg(at.y())));
            QTest::mouseClick(hit, Qt::LeftButton, {}, hit->mapFrom(container, inContainer));
        }
        QLabel* label = s->speedLabel(n);
        QCOMPARE(container->childAt(rv4->mapTo(container, label->geometry().center())), label);
    }
    QCOMPARE(pressed.size(), 9);
    for (int v = 0; v < 3; ++v) {
        QTRY_COMPARE_WITH_TIMEOUT(shutters[size_t(v)]->size(), 3, 5000);
        QCOMPARE(shutters[size_t(v)]->at(0).at(0).toByteArray(), QByteArray::fromHex("0400070109030100"));
    }
    for (int v = 0; v < 3; ++v)
        QVERIFY(!panels.imageView(v + 1)->image().isNull());
}

// A phone that stays connected but sends nothing more: its position shows its last frame dimmed,
// says for how long, keeps its indicator colour and mark across a resize, and is live again with
// the next frame there.
void TestMvcApp::stoppedStreamIsMarkedStale()
{
    answerAlerts(QStringLiteral("407193"), MvcDialog::Proceed);
    AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    ContainerVC* vc = delegate.containerVC();
    MvcMaster* master = vc->_mvc._master.get();
    QVERIFY(master);
    auto ns = std::make_shared<std::atomic<std::int64_t>>(1'000'000'000);
    master->setClock([ns] { return ns->load(); });
    RenderPanels& panels = vc->_playerUi->panels();

    // A phone in position 2 that sends one frame and then nothing, its connection kept.
    QTcpSocket phone;
    phone.connectToHost(QHostAddress::LocalHost, master->serverPort());
    QVERIFY(phone.waitForConnected(5000));
    QTRY_VERIFY_WITH_TIMEOUT(master->slotTable().slot(0).ready, 5000);
    phone.write(frameMessage(1, 0));
    QTRY_VERIFY_WITH_TIMEOUT(!panels.imageView(2)->image().isNull(), 10000);
    const qint64 key = panels.imageView(2)->image().cacheKey();
    QVERIFY(panels.imageView(2)->staleText().isEmpty());
    const auto brightness = [](ImageView* view) {
        const QImage shot = view->grab().toImage();
        const QRect top = view->imageRect().toRect().adjusted(2, 2, -2, 0);
        double sum = 0;
        int n = 0;
        for (int y = top.top(); y < top.top() + top.height() / 4; ++y)
            for (int x = top.left(); x < top.right(); ++x, ++n)
                sum += qGray(shot.pixel(x, y));
        return n ? sum / n : 0.0;
    };
    const double liveBrightness = brightness(panels.imageView(2));
    QVERIFY(liveBrightness > 20);

    ns->fetch_add(MvcMaster::kStaleAfterNs - 1);
    master->checkStaleStreams();
    QVERIFY(panels.imageView(2)->staleText().isEmpty());
    ns->fetch_add(1);
    master->checkStaleStreams();
    QCOMPARE(panels.imageView(2)->staleText(), QStringLiteral("no frames for 2 s"));
    QCOMPARE(panels.renderView(2)->accessibleDescription(), QStringLiteral("no frames for 2 s"));
    QCOMPARE(panels.imageView(2)->image().cacheKey(), key); // the last frame stays, dimmed
    QVERIFY(panels.imageView(1)->staleText().isEmpty());
    QCOMPARE(vc->_mvc._strip->indicator(1)->accessibleDescription(), QStringLiteral("ready"));
    QCOMPARE(vc->_mvc._strip->indicator(1)->backgroundColour(), QColor(0, 255, 0));
    ns->fetch_add(3'000'000'000);
    master->checkStaleStreams();
    QCOMPARE(panels.imageView(2)->staleText(), QStringLiteral("no frames for 5 s"));
    // The picture is dimmed: its upper part, away from the text, is darker than when it was live.
    QVERIFY2(
        brightness(panels.imageView(2)) < 0.7 * liveBrightness,
        qPrintable(
            QStringLiteral("%1 against %2 live").arg(brightness(panels.imageView(2))).arg(liveBrightness)));

    // A rebuild keeps the mark on the new panel.
    vc->windowWillResize(QSize(1760, 990));
    QCOMPARE(panels.imageView(2)->staleText(), QStringLiteral("no frames for 5 s"));
    QCOMPARE(panels.renderView(2)->accessibleDescription(), QStringLiteral("no frames for 5 s"));

    // The next frame ends the mark.
    phone.write(frameMessage(1, 1));
    QTRY_VERIFY_WITH_TIMEOUT(panels.imageView(2)->staleText().isEmpty(), 10000);
    QVERIFY(panels.renderView(2)->accessibleDescription().isEmpty());
    QVERIFY(panels.imageView(2)->image().cacheKey() != key);
}

void TestMvcApp::recordingFromTheMenu()
{
    answerAlerts(QStringLiteral("407193"), MvcDialog::Proceed);
    const QString videos = m_home.filePath(QStringLiteral("Videos"));
    QStringList clips;
    {
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        ContainerVC* vc = delegate.containerVC();
        QVERIFY(vc->_mvc._recording);
        MvcRecordingIndicator& indicator = vc->_mvc._recording->indicator();
        QAction* record = nullptr;
        for (QAction* top : delegate.window()->menuBar()->actions()) {
            for (QAction* a : top->menu()->actions()) {
                if (a->shortcut() == QKeySequence(QStringLiteral("Ctrl+R")))
                    record = a;
            }
        }
        QVERIFY(record);
        QCOMPARE(record->text(), QStringLiteral("Start Recording"));
        QVERIFY(!indicator.dot()->isVisible()); // nothing to show before the first recording

        PhoneSim::Options o;
        o.port = vc->_mvc._master->serverPort();
        o.width = 64;
        o.height = 48;
        o.view = 2;
        o.fps = 30;
        PhoneSim phone(o);
        phone.start();
        QTRY_VERIFY_WITH_TIMEOUT(!vc->_playerUi->panels().imageView(3)->image().isNull(), 10000);

        record->trigger();
        QVERIFY(vc->isRecording());
        QCOMPARE(record->text(), QStringLiteral("Stop Recording"));
        QVERIFY(indicator.dot()->isVisible() && indicator.label()->isVisible());
        QCOMPARE(indicator.label()->text(), QStringLiteral("REC 0:00"));
        QCOMPARE(indicator.dot()->accessibleDescription(), QStringLiteral("recording"));
        QCOMPARE(indicator.label()->accessibleDescription(), QStringLiteral("REC 0:00"));
        QCOMPARE(indicator.dot()->backgroundColour(), QColor(255, 0, 0));
        // The strip's own items keep their places, clear of the indicator.
        MvcControlStrip* strip = vc->_mvc._strip.get();
        const QRect row = indicator.dot()->geometry().united(indicator.label()->geometry());
        for (int n = 0; n < 3; ++n) {
            QVERIFY(!row.intersects(strip->shutterButton(n)->geometry()));
            QVERIFY(!row.intersects(strip->indicator(n)->geometry()));
            QVERIFY(!row.intersects(strip->speedLabel(n)->geometry()));
        }
        QVERIFY(vc->_playerUi->panels().renderView(4)->rect().contains(row));

        // A rebuild of the strip (a presentation mode) keeps the indicator.
        vc->menuPresentationMode1();
        QVERIFY(indicator.dot()->isVisible());
        QCOMPARE(indicator.dot()->parentWidget(), vc->_playerUi->panels().renderView(4));

        // Stopping tells what was saved.
        QTRY_VERIFY_WITH_TIMEOUT(QDir(videos).entryList(QDir::Files | QDir::Hidden).size() == 1, 10000);
        record->trigger();
        QCOMPARE(record->text(), QStringLiteral("Start Recording"));
        QTRY_VERIFY_WITH_TIMEOUT(indicator.label()->text().startsWith(QLatin1String("1 clip saved, ")),
                                 10000);
        QCOMPARE(indicator.dot()->accessibleDescription(), QStringLiteral("not recording"));
        clips = QDir(videos).entryList(QDir::Files | QDir::Hidden);
        QCOMPARE(clips.size(), 1);
        QVERIFY2(clips.first().startsWith(QLatin1String("MVC ")) &&
                     clips.first().endsWith(QLatin1String(" position 3.mp4")),
                 qPrintable(clips.first()));

        // Quit while recording: the program's end finishes the clip.
        record->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(QDir(videos).entryList(QDir::Files | QDir::Hidden).size() == 2, 10000);
        QVERIFY(vc->isRecording());
    }
    const QStringList after = QDir(videos).entryList(QDir::Files | QDir::Hidden);
    QCOMPARE(after.size(), 2);
    for (const QString& name : after) {
        QVERIFY2(name.startsWith(QLatin1String("MVC ")) && name.endsWith(QLatin1String(".mp4")),
                 qPrintable(name));
        QVERIFY(QFileInfo(QDir(videos).filePath(name)).size() > 0);
    }
}

QTEST_MAIN(TestMvcApp)
#include "tst_MvcApp.moc"
