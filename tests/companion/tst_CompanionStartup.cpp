// Companion mode through the start-up chooser, in-process, with every alert answered through the
// alert seam and the processor test answering yes. The chooser's outcomes themselves are
// tst_startup's.
#include "app/AppDelegate.h"
#include "app/ContainerVC.h"
#include "companion/AppleSiliconCheck.h"
#include "companion/SharedContainer.h"
#include "platform/Alert.h"
#include "platform/MainWindow.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QTemporaryDir>
#include <QtTest>

using namespace qr;

namespace {

// Answers alerts in the order they come, recording their message texts.
struct ScriptedAlerts {
    QList<int> answers;
    QStringList shownMessages;
    void install()
    {
        Alert::setResponder([this](Alert& a) {
            shownMessages << a.messageText;
            return answers.isEmpty() ? -1 : answers.takeFirst();
        });
    }
};

QList<QAction*> menuItems(MainWindow* w)
{
    QList<QAction*> items;
    for (QAction* top : w->menuBar()->actions())
        if (top->menu())
            items << top->menu()->actions();
    return items;
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

const QString kChooserMessage = QStringLiteral("\nQuintaray TV/Studio\n\nv1.3 / Build #74");
const QString kCompanionMessage =
    QStringLiteral("\nQuintaray TV/Studio is now running in its Quintaray' \"companion mode\"");

} // namespace

class TestCompanionStartup : public QObject {
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
    }
    void cleanup()
    {
        Alert::setResponder(nullptr);
        AppleSiliconCheck::setAnswerForTesting(std::nullopt);
    }

    // Rx and Tx made, nothing moved on "Dismiss", the window at the bottom-left corner with a
    // quarter of the width and half the height (1921 / 4 truncates to 480), never larger, and
    // "Refresh" recreating Rx and moving.
    void companionFoldersPlacementAndRefresh()
    {
        AppleSiliconCheck::setAnswerForTesting(true);
        const QString downloads = m_home.path() + "/Downloads";
        QVERIFY(QDir().mkpath(downloads));
        QVERIFY(writeFile(downloads + "/a.krox", "container"));

        ScriptedAlerts alerts;
        alerts.answers = {1000, 1003}; // companion mode, then Dismiss
        alerts.install();
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        ContainerVC* vc = delegate.containerVC();
        MainWindow* w = delegate.window();

        QCOMPARE(alerts.shownMessages, (QStringList{kChooserMessage, kCompanionMessage}));
        QCOMPARE(vc->_folders._pathToDownloadsDir, downloads);
        const QString shared = m_home.path() + "/.local/share/" + SharedContainer::groupIdentifier();
        QCOMPARE(vc->_companion._pathToSharedContainerDir, shared);
        QVERIFY(QFileInfo(shared + "/Rx").isDir());
        QVERIFY(QFileInfo(shared + "/Tx").isDir());
        QVERIFY(QFileInfo::exists(downloads + "/a.krox"));
        QVERIFY(!QFileInfo::exists(shared + "/Rx/a.krox"));

        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 1921, 1080));
        QCOMPARE(w->frameGeometry(), QRect(0, 540, 480, 540));
        const QSize content = w->size();
        QCOMPARE(w->maximumSize(), content);
        w->resize(content.width() + 100, content.height() + 100);
        QCOMPARE(w->size(), content);

        QAction* refresh = nullptr;
        for (QAction* a : menuItems(w))
            if (a->text() == QLatin1String("Refresh"))
                refresh = a;
        QVERIFY(refresh);
        QVERIFY(QDir(shared + "/Rx").removeRecursively());
        alerts.answers = {1000}; // Move Inputs
        refresh->trigger();
        QCOMPARE(alerts.shownMessages.size(), 3);
        QCOMPARE(alerts.shownMessages.last(), kCompanionMessage);
        QVERIFY(QFileInfo(shared + "/Rx").isDir());
        QVERIFY(!QFileInfo::exists(downloads + "/a.krox"));
        QFile moved(shared + "/Rx/a.krox");
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray("container"));
    }
};

// The offscreen platform with one 1921 x 1080 screen, set before the application starts.
int main(int argc, char** argv)
{
    QTemporaryDir config;
    if (!config.isValid())
        return 1;
    QFile json(config.filePath("screens.json"));
    if (!json.open(QIODevice::WriteOnly) ||
        json.write(R"({"screens": [{"name": "main", "x": 0, "y": 0, "width": 1921, "height": 1080,)"
                   R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})") < 0)
        return 1;
    json.close();
    qputenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + json.fileName()).toUtf8());
    QApplication app(argc, argv);
    TestCompanionStartup test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_CompanionStartup.moc"
