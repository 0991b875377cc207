// Every writer of the program on a full file system and on a read-only one: no partial or empty
// file is left, no source is removed, the work goes on with the next file, and a diagnostic says
// what failed. The file systems are small tmpfs mounts in the test's private mount namespace
// (run-in-mountns.sh); elsewhere the test skips.
#include "companion/CompanionMoves.h"
#include "player/Playlist.h"
#include "ui/FavouritesFolder.h"

#include "../decode/DecodeFixtures.h"
#include "PlayerFixtures.h"
#include "decode/Lz4FrameEncoder.h"

#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <sys/mount.h>
#include <unistd.h>

using namespace qr;

namespace {

QStringList g_messages;

void collect(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_messages.append(message);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray noise(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32*>(bytes.data()), size / 4);
    return bytes;
}

// Set by run-in-mountns.sh once the namespace is made: mounts made here are seen by no one else.
bool privateMountNamespace()
{
    return qEnvironmentVariableIntValue("QR_IN_MOUNTNS") == 1;
}

// Fills the file system of `dir` up, leaving `spare` bytes (about: a page or two) free.
bool fillUp(const QString& dir, int spare)
{
    QFile reserve(dir + QStringLiteral("/.reserve"));
    if (!reserve.open(QIODevice::WriteOnly) || reserve.write(QByteArray(spare, 'r')) != spare)
        return false;
    reserve.close();
    QFile filler(dir + QStringLiteral("/.filler"));
    if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    const QByteArray chunk(4096, 'f');
    while (filler.write(chunk) == chunk.size()) {
    }
    filler.close();
    return QFile::remove(reserve.fileName());
}

// Every entry below `dir` whose name marks a temporary file.
QStringList leftovers(const QString& dir)
{
    QStringList found;
    for (const QString& name : QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)) {
        if (name.endsWith(QLatin1String(".part")) || name.startsWith(QLatin1String(".qt_temp")))
            found.append(name);
    }
    return found;
}

bool anyMessage(const QString& part)
{
    for (const QString& m : g_messages) {
        if (m.contains(part))
            return true;
    }
    return false;
}

} // namespace

class TestDiskFullOrReadOnly : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void writers_data();
    void writers();

private:
    QTemporaryDir root_;
    QString small_; // the small file system
};

void TestDiskFullOrReadOnly::initTestCase()
{
    if (::geteuid() != 0 || !privateMountNamespace())
        QSKIP("needs root in a private mount namespace (run-in-mountns.sh)");
    QLoggingCategory::setFilterRules(QStringLiteral("quintaray.*.debug=true"));
    qInstallMessageHandler(collect);
}

void TestDiskFullOrReadOnly::init()
{
    small_ = root_.filePath(QStringLiteral("small"));
    QVERIFY(QDir().mkpath(small_));
    QCOMPARE(
        ::mount("tmpfs", QFile::encodeName(small_).constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m"), 0);
    g_messages.clear();
}

void TestDiskFullOrReadOnly::cleanup()
{
    ::umount2(QFile::encodeName(small_).constData(), MNT_DETACH);
}

void TestDiskFullOrReadOnly::writers_data()
{
    QTest::addColumn<QString>("writer");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<QString>("diagnostic");
    for (const char* writer :
         {"unpack", "decompress", "favourite", "companion inputs", "companion outputs"}) {
        QTest::newRow(qPrintable(QStringLiteral("%1, disk full").arg(writer)))
            << writer << false << "No space left on device";
        QTest::newRow(qPrintable(QStringLiteral("%1, read-only").arg(writer)))
            << writer << true << "Read-only file system";
    }
}

void TestDiskFullOrReadOnly::writers()
{
    QFETCH(QString, writer);
    QFETCH(bool, readOnly);
    QFETCH(QString, diagnostic);
    QTemporaryDir elsewhere; // on the ordinary file system
    const auto finish = [&] {
        if (readOnly)
            return ::mount(nullptr, QFile::encodeName(small_).constData(), nullptr, MS_REMOUNT | MS_RDONLY,
                           nullptr) == 0;
        // Room for about two 64 KiB payloads, not for all.
        return fillUp(small_, 160 * 1024);
    };
    const auto snapshot = [](const QString& dir) {
        QMap<QString, QByteArray> files;
        for (const QString& name : QDir(dir).entryList(QDir::Files | QDir::Hidden))
            files.insert(name, readAll(dir + QLatin1Char('/') + name));
        return files;
    };

    if (writer == "unpack" || writer == "decompress") {
        // Downloads is the small file system; a playable set is there too.
        for (int i = 1; i <= 10; ++i)
            QVERIFY(fixtures::makeJpeg(
                small_ + QStringLiteral("/kro_001_%1_01.jpg").arg(i, 3, 10, QLatin1Char('0')),
                i == 1 || i == 10 ? fixtures::signature("10.1") : QString(), {16, 16}, i));
        fixtures::KroxContainer container;
        container.setNumber = 5;
        container.firstPhoto = 1;
        if (writer == "unpack") {
            for (int i = 0; i < 6; ++i)
                container.entries.append({1, noise(64 * 1024, static_cast<quint32>(i))});
            QVERIFY(fixtures::writeFile(small_ + "/a.krox", container.bytes()));
        } else {
            // Compresses to almost nothing; decompressed it does not fit.
            QVERIFY(fixtures::writeFile(small_ + "/kro_07_001_01.rgb2",
                                        Lz4FrameEncoder::encode(QByteArray(2 << 20, 'z'))));
        }
        QVERIFY(finish());
        const QMap<QString, QByteArray> before = snapshot(small_);
        PlaylistRequest request;
        request.downloadsDir = small_;
        request.kroxDecoder.setDocumentsDir(elsewhere.path());
        // The pass's own look at the free space would stop it before any write on so small a file
        // system; here the writes themselves must fail and be handled.
        request.freeBytes = [](const QString&) {
            return std::int64_t{1} << 40;
        };
        const PlaylistResult result = Playlist::generatePlaylist(request);
        // The pass went on: the set already there plays.
        QCOMPARE(result.setIndexes.size(), 2);
        QCOMPARE(result.sortedList.first(), QStringLiteral("kro_001_001_01.jpg"));
        // Nothing that was there is gone or changed; whatever was added is complete.
        const QMap<QString, QByteArray> after = snapshot(small_);
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (before.contains(it.key()))
                continue;
            QVERIFY2(writer == "unpack" && !readOnly, qPrintable(it.key()));
            const int n = it.key().mid(9, 3).toInt(); // krox_005_NNN.jpg
            QCOMPARE(it.value(), container.entries.at(n - 1).payload);
        }
        if (writer == "decompress")
            QVERIFY(!after.contains("kro_07_001_01.rgb"));
        QCOMPARE(leftovers(small_), QStringList());
    } else if (writer == "favourite") {
        const QString favorites = small_ + "/Favorites";
        QVERIFY(QDir().mkpath(favorites));
        QVERIFY(fixtures::writeFile(favorites + "/IMG_0001.jpg", "old"));
        QVERIFY(fixtures::writeFile(elsewhere.filePath("IMG_0001.jpg"), noise(256 * 1024, 1)));
        QVERIFY(fixtures::writeFile(elsewhere.filePath("IMG_0002.jpg"), noise(256 * 1024, 2)));
        QVERIFY(finish());
        QVERIFY(!FavouritesFolder::copyInto(elsewhere.path(), "IMG_0001.jpg", favorites));
        QVERIFY(!FavouritesFolder::copyInto(elsewhere.path(), "IMG_0002.jpg", favorites));
        QCOMPARE(readAll(favorites + "/IMG_0001.jpg"), QByteArray("old"));
        QCOMPARE(FavouritesFolder::sortedListing(favorites), QStringList{"IMG_0001.jpg"});
    } else {
        // Inputs go from Downloads to the small Rx; outputs from Tx to the small Downloads.
        const bool inputs = writer == "companion inputs";
        const QString from = elsewhere.path();
        const QStringList names = inputs ? QStringList{"a.krox", "b.kroa"} : QStringList{"a.mp4", "b.mp4"};
        for (const QString& name : names)
            QVERIFY(
                fixtures::writeFile(from + "/" + name, noise(256 * 1024, static_cast<quint32>(name.size()))));
        QVERIFY(finish());
        const QMap<QString, QByteArray> before = snapshot(from);
        const QStringList moved = inputs ? CompanionMoves::moveInputsToAppGroupSharedRxDir(from, small_)
                                         : CompanionMoves::moveOutputsFromAppGroupSharedTxDir(from, small_);
        QCOMPARE(moved, QStringList());
        QCOMPARE(snapshot(from), before);
        for (const QString& name : names)
            QVERIFY(!QFile::exists(small_ + "/" + name));
    }
    QCOMPARE(leftovers(small_), QStringList());
    QVERIFY2(anyMessage(diagnostic), qPrintable(g_messages.join('\n')));
}

QTEST_GUILESS_MAIN(TestDiskFullOrReadOnly)
#include "tst_DiskFullOrReadOnly.moc"
