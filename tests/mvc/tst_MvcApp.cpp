// The capture master inside the program: the dialog with a code, the control strip, frames from a
// simulated phone in their position, the shutter button, presentation modes and colours, recording
// from the menu.
#include "PhoneSim.h"
#include "app/AppDelegate.h"
#include "app/ContainerVC.h"
#include "modes/MvcDialog.h"
#include "mvc/MvcMaster.h"
#include "platform/Alert.h"
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
#include <QTemporaryDir>
#include <QtTest>

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
    const qint64 key = shownAt(2).cacheKey();
    phone.finish();
    QTRY_VERIFY_WITH_TIMEOUT(vc->_mvc._master->slotTable().slot(0).waitingForRestart, 5000);
    // The close request turns the indicator of the phone's position orange.
    QTRY_COMPARE_WITH_TIMEOUT(strip->indicator(1)->accessibleDescription(), QStringLiteral("cancelled"),
                              5000);
    QCOMPARE(strip->indicator(1)->backgroundColour().red(), 255);
    QCOMPARE(strip->indicator(1)->backgroundColour().blue(), 0);
    QVERIFY(qAbs(strip->indicator(1)->backgroundColour().green() - 128) <= 1);
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
