// Companion mode without a window: the shared folder, the input and output moves, and the dialog's
// choices carried out on real folders.
#include "companion/CompanionDialog.h"
#include "companion/CompanionMoves.h"
#include "companion/SharedContainer.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

using namespace qr;

namespace {

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

QStringList entries(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

// Downloads and a shared folder under one temporary root.
struct Fixture {
    QTemporaryDir root;
    QString downloads;
    SharedContainer shared;
    Fixture()
    {
        downloads = root.path() + "/Downloads";
        QDir().mkdir(downloads);
        shared = SharedContainer::configForAppGroupSharing(root.path() + "/group");
    }
};

} // namespace

class TestCompanionMoves : public QObject {
    Q_OBJECT
    QTemporaryDir m_dataHome;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dataHome.isValid());
        qputenv("XDG_DATA_HOME", m_dataHome.path().toUtf8());
    }

    void sharedFolderUnderGenericData()
    {
        const SharedContainer s = SharedContainer::configForAppGroupSharing();
        const QString expected = m_dataHome.path() + "/group.Tarvelund-Labs--Inc..KROM.QuintarayKrox";
        QCOMPARE(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation), m_dataHome.path());
        QCOMPARE(s._pathToSharedContainerDir, expected);
        QCOMPARE(s._quintarayKroxContainerURL, QUrl::fromLocalFile(expected));
        QCOMPARE(s._pathToSharedContainerRxSubDir, expected + "/Rx");
        QCOMPARE(s._pathToSharedContainerTxSubDir, expected + "/Tx");
        QVERIFY(QFileInfo(s._pathToSharedContainerRxSubDir).isDir());
        QVERIFY(QFileInfo(s._pathToSharedContainerTxSubDir).isDir());
    }

    // Rx and Tx already there keep what they hold.
    void existingFoldersKeepTheirFiles()
    {
        Fixture f;
        QVERIFY(writeFile(f.shared._pathToSharedContainerTxSubDir + "/clip.mp4", "video"));
        const SharedContainer again = SharedContainer::configForAppGroupSharing(f.root.path() + "/group");
        QCOMPARE(readFile(again._pathToSharedContainerTxSubDir + "/clip.mp4"), QByteArray("video"));
    }

    // Without a shared folder nothing is resolved, created or moved.
    void unresolvedSharedFolder()
    {
        const SharedContainer s = SharedContainer::configForAppGroupSharing(QString());
        QVERIFY(!s.isUsable());
        QVERIFY(s._pathToSharedContainerRxSubDir.isEmpty());
        QVERIFY(s._pathToSharedContainerTxSubDir.isEmpty());

        QTemporaryDir root;
        QVERIFY(writeFile(root.path() + "/a.krox", "k"));
        QVERIFY(writeFile(root.path() + "/b.mp4", "v"));
        QVERIFY(CompanionMoves::moveInputsToAppGroupSharedRxDir(root.path(), s._pathToSharedContainerRxSubDir)
                    .isEmpty());
        QVERIFY(
            CompanionMoves::moveOutputsFromAppGroupSharedTxDir(s._pathToSharedContainerTxSubDir, root.path())
                .isEmpty());
        QCOMPARE(entries(root.path()), (QStringList{"a.krox", "b.mp4"}));
    }

    void moveInputs()
    {
        Fixture f;
        const QString rx = f.shared._pathToSharedContainerRxSubDir;
        QVERIFY(writeFile(f.downloads + "/a.krox", "container a"));
        QVERIFY(writeFile(f.downloads + "/b.kroa", "audio b"));
        QVERIFY(writeFile(f.downloads + "/c.KROX", "upper case"));
        QVERIFY(writeFile(f.downloads + "/d.txt", "text"));
        QVERIFY(writeFile(f.downloads + "/.e.krox", "hidden"));
        QVERIFY(writeFile(f.downloads + "/g.krox.bak", "backup"));
        QVERIFY(QDir().mkdir(f.downloads + "/folder.krox"));
        QVERIFY(writeFile(rx + "/a.krox", "older a"));

        // In the order the file system lists the folder.
        QStringList expected;
        const QStringList listing =
            QDir(f.downloads)
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                           QDir::Unsorted);
        for (const QString& name : listing) {
            if (name == "a.krox" || name == "b.kroa" || name == ".e.krox")
                expected << name;
        }
        QCOMPARE(expected.size(), 3);

        QCOMPARE(CompanionMoves::moveInputsToAppGroupSharedRxDir(f.downloads, rx), expected);
        QCOMPARE(entries(rx), (QStringList{".e.krox", "a.krox", "b.kroa"}));
        QCOMPARE(readFile(rx + "/a.krox"), QByteArray("container a"));
        QCOMPARE(readFile(rx + "/b.kroa"), QByteArray("audio b"));
        QCOMPARE(readFile(rx + "/.e.krox"), QByteArray("hidden"));
        QCOMPARE(entries(f.downloads), (QStringList{"c.KROX", "d.txt", "folder.krox", "g.krox.bak"}));
        QVERIFY(entries(f.shared._pathToSharedContainerTxSubDir).isEmpty());
    }

    void moveOutputs()
    {
        Fixture f;
        const QString tx = f.shared._pathToSharedContainerTxSubDir;
        QVERIFY(writeFile(tx + "/clip.mov", "quicktime"));
        QVERIFY(writeFile(tx + "/clip.mp4", "new clip"));
        QVERIFY(writeFile(tx + "/B.mp4", "upper first"));
        QVERIFY(writeFile(tx + "/a.mp4", "lower a"));
        QVERIFY(writeFile(tx + "/.hidden.mp4", "hidden"));
        QVERIFY(writeFile(tx + "/x.MP4", "upper extension"));
        QVERIFY(writeFile(f.downloads + "/clip.mp4", "old clip, longer than the new one"));
        QVERIFY(writeFile(f.downloads + "/a.krox", "input"));

        const QStringList moved = CompanionMoves::moveOutputsFromAppGroupSharedTxDir(tx, f.downloads);
        // Plain character order: upper case before lower case.
        QCOMPARE(moved, (QStringList{"B.mp4", "a.mp4", "clip.mp4"}));
        QCOMPARE(readFile(f.downloads + "/clip.mp4"), QByteArray("new clip"));
        QCOMPARE(readFile(f.downloads + "/B.mp4"), QByteArray("upper first"));
        QCOMPARE(entries(f.downloads), (QStringList{"B.mp4", "a.krox", "a.mp4", "clip.mp4"}));
        QCOMPARE(entries(tx), (QStringList{".hidden.mp4", "clip.mov", "x.MP4"}));
        QVERIFY(entries(f.shared._pathToSharedContainerRxSubDir).isEmpty());
    }

    // A file whose destination cannot be written stays, and the loop goes on with the next name.
    // (Run as root, a read-only folder would still be writable: a folder of the same name blocks it.)
    void blockedNameDoesNotStopTheOthers()
    {
        Fixture f;
        const QString rx = f.shared._pathToSharedContainerRxSubDir;
        QVERIFY(writeFile(f.downloads + "/a.krox", "a"));
        QVERIFY(writeFile(f.downloads + "/b.krox", "b"));
        QVERIFY(QDir().mkdir(rx + "/a.krox"));

        QCOMPARE(CompanionMoves::moveInputsToAppGroupSharedRxDir(f.downloads, rx), QStringList{"b.krox"});
        QCOMPARE(readFile(f.downloads + "/a.krox"), QByteArray("a"));
        QCOMPARE(entries(f.downloads), QStringList{"a.krox"});
        QCOMPARE(entries(rx), (QStringList{"a.krox", "b.krox"}));
        QVERIFY(QFileInfo(rx + "/a.krox").isDir());
    }

    void stripOffAllButLastPathComponent_data()
    {
        QTest::addColumn<QStringList>("paths");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("empty list") << QStringList{} << QStringList{};
        QTest::newRow("paths and names, order kept")
            << QStringList{"/a/b/z.mp4", "c.mp4", "/x/.h.mp4", "rel/dir/a.mov"}
            << QStringList{"z.mp4", "c.mp4", ".h.mp4", "a.mov"};
        QTest::newRow("trailing separators") << QStringList{"/a/Tx/", "/a/b//"} << QStringList{"Tx", "b"};
        QTest::newRow("root and empty") << QStringList{"/", ""} << QStringList{"/", ""};
    }
    void stripOffAllButLastPathComponent()
    {
        QFETCH(QStringList, paths);
        QFETCH(QStringList, names);
        QCOMPARE(CompanionMoves::stripOffAllButLastPathComponent(paths), names);
    }

    // Each answer of the dialog, carried out on real folders through the shared folder under the
    // generic data folder; the folders are prepared before the question every time.
    void dialogChoices_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<bool>("inputsMoved");
        QTest::addColumn<bool>("outputsMoved");
        const QStringList asked{"config", "ask"};
        QTest::newRow("Move Inputs") << 1000 << asked + QStringList{"inputs"} << true << false;
        QTest::newRow("Move Outputs") << 1001 << asked + QStringList{"outputs"} << false << true;
        QTest::newRow("Move Both") << 1002 << asked + QStringList{"inputs", "outputs"} << true << true;
        QTest::newRow("Dismiss") << 1003 << asked << false << false;
        QTest::newRow("closed otherwise") << 999 << asked << false << false;
    }
    void dialogChoices()
    {
        QFETCH(int, answer);
        QFETCH(QStringList, calls);
        QFETCH(bool, inputsMoved);
        QFETCH(bool, outputsMoved);

        QTemporaryDir root;
        const QString downloads = root.path() + "/Downloads";
        QVERIFY(QDir().mkdir(downloads));
        QVERIFY(writeFile(downloads + "/a.krox", "input"));
        SharedContainer shared = SharedContainer::configForAppGroupSharing();
        QVERIFY(shared.isUsable());
        QVERIFY(QDir(shared._pathToSharedContainerDir).removeRecursively()); // re-created by the dialog
        QVERIFY(QDir().mkpath(shared._pathToSharedContainerTxSubDir));
        QVERIFY(writeFile(shared._pathToSharedContainerTxSubDir + "/v.mp4", "video"));
        shared = SharedContainer();

        QStringList seen;
        QString message;
        QString informative;
        QStringList buttons;
        CompanionDialog::Actions a;
        a.configForAppGroupSharing = [&] {
            seen << "config";
            shared = SharedContainer::configForAppGroupSharing();
        };
        a.runModal = [&](const QString& m, const QString& i, const QStringList& b) {
            seen << "ask";
            message = m;
            informative = i;
            buttons = b;
            // The folders exist by the time the question is asked.
            return QFileInfo(shared._pathToSharedContainerRxSubDir).isDir() ? answer : -1;
        };
        a.moveInputsToAppGroupSharedRxDir = [&] {
            seen << "inputs";
            CompanionMoves::moveInputsToAppGroupSharedRxDir(downloads, shared._pathToSharedContainerRxSubDir);
        };
        a.moveOutputsFromAppGroupSharedTxDir = [&] {
            seen << "outputs";
            CompanionMoves::moveOutputsFromAppGroupSharedTxDir(shared._pathToSharedContainerTxSubDir,
                                                               downloads);
        };
        CompanionDialog::presentQuintarayOnAppleSiMacDialog(a);

        QCOMPARE(seen, calls);
        QCOMPARE(message,
                 QString("\nQuintaray TV/Studio is now running in its Quintaray' \"companion mode\""));
        QCOMPARE(buttons, (QStringList{"Move Inputs", "Move Outputs", "Move Both", "Dismiss"}));
        const QString b = QString(QChar(0x26AB)) + QChar(0xFE0E);
        QCOMPARE(informative,
                 "\n" + b +
                     " Tap \"Move Inputs\" to move the .krox AND .kroa files in your\n ~/Downloads folder "
                     "into Quintaray.\n" +
                     "\n" + b +
                     " Tap \"Move Outputs\" to move the Videos stored inside Quintaray to your\n "
                     "~/Downloads folder.\n" +
                     "\n" + b + " Tap \"Move Both\" to perform both operations.\n");

        const QString rx = shared._pathToSharedContainerRxSubDir;
        const QString tx = shared._pathToSharedContainerTxSubDir;
        QCOMPARE(QFileInfo::exists(rx + "/a.krox"), inputsMoved);
        QCOMPARE(QFileInfo::exists(downloads + "/a.krox"), !inputsMoved);
        QCOMPARE(QFileInfo::exists(downloads + "/v.mp4"), outputsMoved);
        QCOMPARE(QFileInfo::exists(tx + "/v.mp4"), !outputsMoved);
        QCOMPARE(entries(downloads).size() + entries(rx).size() + entries(tx).size(), 2);
    }
};

QTEST_GUILESS_MAIN(TestCompanionMoves)
#include "tst_CompanionMoves.moc"
