// Companion mode through the start-up chooser, in-process, with every alert answered through the
// alert seam and the processor test answering yes.
#include "app/AppDelegate.h"
#include "app/ContainerVC.h"
#include "companion/AppleSiliconCheck.h"
#include "companion/SharedContainer.h"
#include "platform/Alert.h"
#include "platform/MainWindow.h"

#include <QAction>
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

    void companionWindowMenuAndRefresh()
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
        QVERIFY(vc->_modes._appGroupSharingEn);
        QCOMPARE(vc->_folders._pathToDownloadsDir, downloads);
        const QString shared = m_home.path() + "/.local/share/" + SharedContainer::groupIdentifier();
        QCOMPARE(vc->_companion._pathToSharedContainerDir, shared);
        QVERIFY(QFileInfo(shared + "/Rx").isDir());
        QVERIFY(QFileInfo(shared + "/Tx").isDir());
        // Dismiss moved nothing.
        QVERIFY(QFileInfo::exists(downloads + "/a.krox"));
        QVERIFY(!QFileInfo::exists(shared + "/Rx/a.krox"));

        // A quarter of the screen's width and half its height, at the bottom-left corner, no larger.
        const QRect full = QGuiApplication::primaryScreen()->geometry();
        const QSize size(full.width() / 4, full.height() / 2);
        QCOMPARE(w->frameGeometry(), QRect(QPoint(full.left(), full.bottom() + 1 - size.height()), size));
        const QSize content = w->size();
        QCOMPARE(w->maximumSize(), content);
        w->resize(content.width() + 100, content.height() + 100);
        QCOMPARE(w->size(), content);

        const QList<QAction*> items = menuItems(w);
        QStringList titles;
        for (QAction* a : items)
            titles << a->text() + QLatin1Char('|') + a->shortcut().toString();
        QCOMPARE(titles, (QStringList{"Refresh|Ctrl+R", "Quit|Ctrl+Q"}));

        // "Refresh" shows the dialog again, with Rx re-created after it was removed, and moves.
        QVERIFY(QDir(shared + "/Rx").removeRecursively());
        alerts.answers = {1000}; // Move Inputs
        items.first()->trigger();
        QCOMPARE(alerts.shownMessages.size(), 3);
        QCOMPARE(alerts.shownMessages.last(), kCompanionMessage);
        QVERIFY(QFileInfo(shared + "/Rx").isDir());
        QVERIFY(!QFileInfo::exists(downloads + "/a.krox"));
        QFile moved(shared + "/Rx/a.krox");
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray("container"));
    }

    // The same choice on another processor: no companion dialog, no companion menu, full window.
    void notOfferedOnOtherProcessors()
    {
        AppleSiliconCheck::setAnswerForTesting(false);
        ScriptedAlerts alerts;
        alerts.answers = {1000};
        alerts.install();
        AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        QCOMPARE(alerts.shownMessages, QStringList{kChooserMessage});
        QVERIFY(!delegate.containerVC()->_modes._appGroupSharingEn);
        QVERIFY(!delegate.containerVC()->_companion.isUsable());
        QCOMPARE(delegate.window()->frameGeometry(), QGuiApplication::primaryScreen()->availableGeometry());
        for (QAction* a : menuItems(delegate.window()))
            QVERIFY(a->text() != QLatin1String("Refresh"));
    }
};

QTEST_MAIN(TestCompanionStartup)
#include "tst_CompanionStartup.moc"
