// Start-up as a whole: the chooser's outcomes, the flags, the menu, the window placement and the
// folders, run in-process with every alert answered through the alert seam.
#include "app/AppDelegate.h"
#include "app/AppFolders.h"
#include "app/ContainerVC.h"
#include "companion/AppleSiliconCheck.h"
#include "modes/WelcomeDialog.h"
#include "platform/Alert.h"
#include "platform/DialogText.h"
#include "platform/MainWindow.h"
#include "platform/StandardFolders.h"
#include "platform/UserDefaults.h"
#include "ui/FavouritesFolder.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <sys/stat.h>

using namespace qr;

namespace {

// Answers alerts by their first button's title, in the order they come, and records them.
struct ScriptedAlerts {
    QList<int> answers;
    QStringList shownMessages;
    QStringList shownInformative;
    QList<QStringList> shownButtons;
    void install()
    {
        Alert::setResponder([this](Alert& a) {
            shownMessages << a.messageText;
            shownInformative << a.informativeText;
            shownButtons << a.buttons();
            return answers.isEmpty() ? Alert::kFirstButtonReturn + int(a.buttons().size()) - 1
                                     : answers.takeFirst();
        });
    }
    // Starts the program answering its alerts, with the processor test answering `appleSilicon`.
    void launch(AppDelegate& delegate, bool appleSilicon)
    {
        AppleSiliconCheck::setAnswerForTesting(appleSilicon);
        install();
        delegate.applicationDidFinishLaunching();
    }
};

QStringList menuTitles(MainWindow* w)
{
    QStringList titles;
    for (QAction* top : w->menuBar()->actions())
        for (QAction* a : top->menu()->actions())
            titles << a->text() + QLatin1Char('|') + a->shortcut().toString();
    return titles;
}

void writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(data);
}

} // namespace

class TestStartup : public QObject {
    Q_OBJECT
    QTemporaryDir m_home;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", m_home.path().toUtf8());
        qputenv("XDG_CONFIG_HOME", (m_home.path() + "/.config").toUtf8());
        qputenv("XDG_DATA_HOME", (m_home.path() + "/.local/share").toUtf8());
        QCoreApplication::setOrganizationName("Quintaray");
        QCoreApplication::setApplicationName("quintaray-tv-studio-test");
        QVERIFY(StandardFolders::applicationSupport().startsWith(m_home.path()));
    }
    void cleanup()
    {
        Alert::setResponder(nullptr);
        AppleSiliconCheck::setAnswerForTesting(std::nullopt);
    }

    void chooserOutcomes_data()
    {
        QTest::addColumn<bool>("appleSilicon");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<int>("alertsShown");
        QTest::addColumn<bool>("companion");
        QTest::addColumn<bool>("mvcMaster");
        QTest::addColumn<bool>("mediaPlayer");
        QTest::addColumn<QStringList>("menu");

        const QStringList playerMenu{"Player Toggle Repeat|Ctrl+R", "Quit|Ctrl+Q"};
        const QStringList confirmedPlayerMenu{"Player Toggle Repeat|Ctrl+R",
                                              "Export Set as Video\u2026|Ctrl+E", "Quit|Ctrl+Q"};
        const QStringList mvcMenu{"MVC Mode #1|Ctrl+1", "MVC Mode #2|Ctrl+2",       "MVC Mode #3|Ctrl+3",
                                  "MVC Mode #4|Ctrl+4", "MVC Toggle Colors|Ctrl+C", "Start Recording|Ctrl+R",
                                  "Quit|Ctrl+Q"};
        const QStringList companionMenu{"Refresh|Ctrl+R", "Quit|Ctrl+Q"};

        QTest::newRow("cancel") << false << QList<int>{1003} << 1 << false << false << false << playerMenu;
        QTest::newRow("companion on other processor")
            << false << QList<int>{1000} << 1 << false << false << false << playerMenu;
        // The companion dialog follows; dismissing it keeps the mode.
        QTest::newRow("companion on apple silicon")
            << true << QList<int>{1000, 1003} << 2 << true << false << false << companionMenu;
        // The capture dialog follows; cancelling it keeps the mode without its layout.
        QTest::newRow("mvc") << false << QList<int>{1001, 1001} << 2 << false << true << false << mvcMenu;
        QTest::newRow("player proceed")
            << false << QList<int>{1002, 1000} << 2 << false << false << true << confirmedPlayerMenu;
        QTest::newRow("player cancel")
            << false << QList<int>{1002, 1001} << 2 << false << false << false << playerMenu;
    }
    void chooserOutcomes()
    {
        QFETCH(bool, appleSilicon);
        QFETCH(QList<int>, answers);
        QFETCH(int, alertsShown);
        QFETCH(bool, companion);
        QFETCH(bool, mvcMaster);
        QFETCH(bool, mediaPlayer);
        QFETCH(QStringList, menu);

        ScriptedAlerts alerts;
        alerts.answers = answers;
        AppDelegate delegate;
        alerts.launch(delegate, appleSilicon);
        ContainerVC* vc = delegate.containerVC();
        MainWindow* w = delegate.window();

        QCOMPARE(alerts.shownMessages.size(), alertsShown);
        QCOMPARE(alerts.shownButtons.first(),
                 (QStringList{"Quintaray on Apple Si Mac", "Multi View Capture (Master)",
                              "Burst Photo Set Media Player", "Cancel"}));
        if (alertsShown == 2)
            QCOMPARE(alerts.shownButtons.at(1),
                     companion   ? (QStringList{"Move Inputs", "Move Outputs", "Move Both", "Dismiss"})
                     : mvcMaster ? (QStringList{"Proceed", "Cancel", "Save Changes"})
                                 : (QStringList{"Proceed", "Cancel"}));

        QCOMPARE(vc->_modes._appGroupSharingEn, companion);
        QCOMPARE(vc->_modes._mvcMasterEn, mvcMaster);
        QCOMPARE(vc->_modes._mediaPlayerModeEn, mediaPlayer);
        QCOMPARE(vc->_modes._mvcModeEn, false);
        QCOMPARE(vc->_modes._appleSiMacEn, appleSilicon);
        QCOMPARE(vc->_mvc._mvcPresentationMode, 2);
        QCOMPARE(menuTitles(w), menu);

        QCOMPARE(w->windowTitle(), QString("Quintaray TV/Studio (v1.3 / Build #74)"));
        QVERIFY(w->isResizable());
        QVERIFY(w->isMiniaturizable());
        QCOMPARE(vc->_companion.isUsable(), companion);
        // The companion window's size and place: tst_CompanionStartup, on a screen of known size.
        if (!companion)
            QCOMPARE(w->frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry());
    }

    // The first layout runs before the menu exists; it uses the height of the bar the menu fills
    // later, not the 22-point stand-in for a platform that reports none.
    void firstLayoutUsesTheRealMenuBarHeight()
    {
        ScriptedAlerts alerts;
        alerts.answers = {1003}; // Cancel
        alerts.install();
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        MainWindow* w = delegate.window();
        const int menuBar = w->menuBar()->sizeHint().height();
        QVERIFY(menuBar > 0);
        QVERIFY(menuBar != 22);
        const QScreen* screen = QGuiApplication::primaryScreen();
        // The usable height, capped at 16:9, minus the bar. This platform reports decorations only
        // once the window is shown, so the first layout has the whole available height.
        const int usable =
            std::min(screen->availableGeometry().height(), int(float(screen->geometry().width()) * 0.5625f));
        QCOMPARE(delegate.containerVC()->_screen.screenHeight, usable - menuBar);
    }

    void welcomeText()
    {
        const QString text = WelcomeDialog::informativeText();
        QVERIFY(text.startsWith(QString(QChar(0x26AB)) + QChar(0xFE0E) + QLatin1Char(' ')));
        QCOMPARE(text.split(QLatin1Char('\n')).count(QStringLiteral("---")), 2);
        QVERIFY(text.endsWith(QLatin1Char('\n')));
        QVERIFY(!text.contains(QLatin1String("%")));
        QCOMPARE(text.count(DialogText::bullet()), 7);
    }

    // Each dialog as the user sees it, reached through the chooser, against its exact texts.
    void dialogTexts_data()
    {
        QTest::addColumn<bool>("appleSilicon");
        QTest::addColumn<QList<int>>("answers");
        QTest::addColumn<QString>("message");
        QTest::addColumn<QString>("informative");

        QTest::newRow("chooser") << false << QList<int>{1003} << "\nQuintaray TV/Studio\n\nv1.3 / Build #74"
                                 << "\nWorks ONLY with the\n\"Quintaray\"\nBurst Photo Camera App\n";
        QTest::newRow("welcome")
            << false << QList<int>{1002, 1001}
            << "\nThe planet's first-ever,\n& still ONLY,\nBurst Photo Set Media Player !"
            << QString::fromUtf16(
                   u"\u26AB\uFE0E This Media Player will generate an Ordered-Playlist of the burst photo "
                   u"sets in "
                   u"your\n~/Downloads folder."
                   u"\n\n\u26AB\uFE0E As such, before proceeding, please make sure your ~/Downloads folder "
                   u"contains ONLY burst photo sets captured by Quintaray."
                   u"\n\n---"
                   u"\n\n\u26AB\uFE0E This Media Player is intended primarily for 3:4 aspect ratio "
                   u"\"Portrait-orientation\" photos."
                   u"\n\n---"
                   u"\n\n\u26AB\uFE0E Tap Proceed, then tap Generate Playlist."
                   u"\n\n\u26AB\uFE0E If available, KROX files will be processed first !"
                   u"\n\n\u26AB\uFE0E If available, RGB2 files will be LZ4 Data DE-comp'd second !"
                   u"\n\n\u26AB\uFE0E Support for RGB3 files has NOT yet been added.\n");
        QTest::newRow("companion")
            << true << QList<int>{1000, 1003}
            << "\nQuintaray TV/Studio is now running in its Quintaray' \"companion mode\""
            << QString::fromUtf16(u"\n\u26AB\uFE0E Tap \"Move Inputs\" to move the .krox AND .kroa files in "
                                  u"your\n ~/Downloads folder into Quintaray.\n"
                                  u"\n\u26AB\uFE0E Tap \"Move Outputs\" to move the Videos stored inside "
                                  u"Quintaray to your\n ~/Downloads folder.\n"
                                  u"\n\u26AB\uFE0E Tap \"Move Both\" to perform both operations.\n");
        QTest::newRow("multi view capture") << false << QList<int>{1001, 1001} << "Multi View Capture"
                                            << "6-digit Secret Code";
    }
    void dialogTexts()
    {
        QFETCH(bool, appleSilicon);
        QFETCH(QList<int>, answers);
        QFETCH(QString, message);
        QFETCH(QString, informative);
        ScriptedAlerts alerts;
        alerts.answers = answers;
        AppDelegate delegate;
        alerts.launch(delegate, appleSilicon);
        QCOMPARE(alerts.shownMessages.size(), answers.size());
        QCOMPARE(alerts.shownMessages.last(), message);
        QCOMPARE(alerts.shownInformative.last(), informative);
    }

    void folderPreparation()
    {
        QTemporaryDir root;
        const QString app = root.path() + "/app";
        QVERIFY(QDir().mkpath(app + "/Favorites/sub"));
        QVERIFY(QDir().mkpath(app + "/Presets"));
        writeFile(app + "/Favorites/old.jpg", "x");
        writeFile(app + "/Favorites/sub/old2.jpg", "x");
        writeFile(app + "/Presets/b.preset", "b");
        writeFile(app + "/Presets/a.preset", "a");

        const AppFolders f = AppFolders::prepare(app, root.path() + "/Downloads");
        QCOMPARE(f._pathToFavoritesDir, app + "/Favorites");
        QVERIFY(QFileInfo(f._pathToFavoritesDir).isDir());
        QVERIFY(f._listOfFilesInFavoritesDir.isEmpty());
        QVERIFY(QDir(f._pathToFavoritesDir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
        QCOMPARE(f._listOfFilesInPresetsDir, (QStringList{"a.preset", "b.preset"}));
        QVERIFY(QFileInfo(app + "/Quintaray").isDir());
    }

    void firstRunCreatesFolders()
    {
        QTemporaryDir root;
        const QString app = root.path() + "/not/yet/there";
        const AppFolders f = AppFolders::prepare(app, QString());
        QVERIFY(QFileInfo(f._pathToQuintarayDir).isDir());
        QVERIFY(QFileInfo(f._pathToPresetsDir).isDir());
        QVERIFY(QFileInfo(f._pathToFavoritesDir).isDir());
    }

    // A Favorites entry that is a link to a folder elsewhere: the link goes, the folder's files stay.
    void favoritesLinkNeverEmptiesItsTarget()
    {
        QTemporaryDir root;
        const QString app = root.path() + "/app";
        const QString elsewhere = root.path() + "/Pictures";
        QVERIFY(QDir().mkpath(app));
        QVERIFY(QDir().mkpath(elsewhere));
        writeFile(elsewhere + "/keep.jpg", "k");
        QVERIFY(QFile::link(elsewhere, app + "/Favorites"));

        const AppFolders f = AppFolders::prepare(app, QString());
        QVERIFY(QFileInfo::exists(elsewhere + "/keep.jpg"));
        QVERIFY(QFileInfo(f._pathToFavoritesDir).isDir());
        QVERIFY(!QFileInfo(f._pathToFavoritesDir).isSymLink());
    }

    // Whatever stands under the name Favorites is removed, the folder is made, and a copy works.
    void favoritesEntryOfAnyKindIsReplaced_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("regular file") << "file";
        QTest::newRow("FIFO") << "fifo";
        QTest::newRow("dangling link") << "dangling";
        QTest::newRow("link to a file elsewhere") << "link-file";
    }

    void favoritesEntryOfAnyKindIsReplaced()
    {
        QFETCH(QString, kind);
        QTemporaryDir root;
        const QString app = root.path() + "/app";
        const QString favorites = app + "/Favorites";
        QVERIFY(QDir().mkpath(app));
        writeFile(root.path() + "/keep.jpg", "k");
        if (kind == "file")
            writeFile(favorites, "not a folder");
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(favorites).constData(), 0600), 0);
        else if (kind == "dangling")
            QVERIFY(QFile::link(root.path() + "/gone", favorites));
        else
            QVERIFY(QFile::link(root.path() + "/keep.jpg", favorites));

        const AppFolders f = AppFolders::prepare(app, QString());
        QVERIFY(QFileInfo(favorites).isDir() && !QFileInfo(favorites).isSymLink());
        QVERIFY(f._listOfFilesInFavoritesDir.isEmpty());
        QVERIFY(FavouritesFolder::copyInto(root.path(), "keep.jpg", favorites));
        QCOMPARE(FavouritesFolder::sortedListing(favorites), QStringList{"keep.jpg"});
        QFile kept(root.path() + "/keep.jpg");
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), QByteArray("k"));
    }

    void emptyAppDirTouchesNothing()
    {
        const AppFolders f = AppFolders::prepare(QString(), QString());
        QVERIFY(f._pathToFavoritesDir.isEmpty());
    }

    void storedCode_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QList<int>>("digits");
        QTest::newRow("5 characters") << "12345" << QList<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("6 characters") << "907513" << QList<int>{9, 0, 7, 5, 1, 3};
        QTest::newRow("7 characters") << "1234567" << QList<int>{0, 0, 0, 0, 0, 0};
        QTest::newRow("non-digit") << "A00000" << QList<int>{17, 0, 0, 0, 0, 0};
    }
    void storedCode()
    {
        QFETCH(QString, stored);
        QFETCH(QList<int>, digits);
        UserDefaults::setString("quintarayTvForMacSecretCode", stored);
        ScriptedAlerts alerts;
        alerts.answers = {1003};
        alerts.install();
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        const ContainerVC* vc = delegate.containerVC();
        QCOMPARE(vc->_settings._quintarayTvForMacSecretCode, stored);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(vc->_settings._tf.fields()[size_t(i)], digits.at(i));
    }

    // The chooser runs before the window is placed, shown or given its menu.
    void chooserComesBeforeWindowAndMenu()
    {
        AppDelegate* d = nullptr;
        bool visibleDuringChooser = true;
        int menusDuringChooser = -1;
        Alert::setResponder([&](Alert&) {
            visibleDuringChooser = d->window()->isVisible();
            menusDuringChooser = int(d->window()->menuBar()->actions().size());
            return 1003;
        });
        AppDelegate delegate;
        d = &delegate;
        delegate.applicationDidFinishLaunching();
        QVERIFY(!visibleDuringChooser);
        QCOMPARE(menusDuringChooser, 0);
        QVERIFY(delegate.window()->isVisible());
    }

    void quitEndsTheEventLoop()
    {
        ScriptedAlerts alerts;
        alerts.answers = {1003};
        alerts.install();
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        QAction* quit = nullptr;
        for (QAction* top : delegate.window()->menuBar()->actions())
            for (QAction* a : top->menu()->actions())
                if (a->text() == QLatin1String("Quit"))
                    quit = a;
        QVERIFY(quit);
        QTimer::singleShot(0, quit, &QAction::trigger);
        QTimer::singleShot(5000, [] { QCoreApplication::exit(42); });
        QCOMPARE(QCoreApplication::exec(), 0);
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
