#include "player/PhotoDiskCache.h"

#include <QColorSpace>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <thread>
#include <vector>

using qr::PhotoDiskCache;

namespace {

// Every pixel distinct, so that a moved or lost row shows.
QImage pattern(QSize size, int seed, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x)
            row[x] = qRgb((x * 7 + seed) & 0xFF, (y * 13 + seed * 3) & 0xFF, (x ^ y ^ seed) & 0xFF);
    }
    return format == QImage::Format_RGB32 ? image : image.convertToFormat(format);
}

PhotoDiskCache::Key key(const QString& name, QSize box = {64, 48})
{
    return {QStringLiteral("/photos/") + name, 1000, 1'700'000'000'000, box, {}};
}

std::int64_t entryBytes(QSize size)
{
    return 64 + std::int64_t(size.width()) * size.height() * 4;
}

} // namespace

class TestPhotoDiskCache : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripSurvivesRestart_data();
    void roundTripSurvivesRestart();
    void damagedEntryIsIgnoredAndRewritten_data();
    void damagedEntryIsIgnoredAndRewritten();
    void changedStampMisses_data();
    void changedStampMisses();
    void rewrittenPhotoMissesWhateverItsTime_data();
    void rewrittenPhotoMissesWhateverItsTime();
    void abandonedTemporaryEntriesAreSwept();
    void budgetEvictsLeastRecentlyUsed();
    void unusableFolderFailsCleanly();
    void concurrentUse();
};

void TestPhotoDiskCache::roundTripSurvivesRestart_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("displayP3");
    QTest::newRow("RGB32") << QSize(64, 48) << int(QImage::Format_RGB32) << false;
    QTest::newRow("RGB32 in Display P3") << QSize(64, 48) << int(QImage::Format_RGB32) << true;
    QTest::newRow("ARGB32 converted") << QSize(33, 17) << int(QImage::Format_ARGB32) << false;
    QTest::newRow("RGB888 with padded rows") << QSize(31, 9) << int(QImage::Format_RGB888) << true;
    QTest::newRow("one pixel") << QSize(1, 1) << int(QImage::Format_RGB32) << false;
}

void TestPhotoDiskCache::roundTripSurvivesRestart()
{
    QFETCH(QSize, size);
    QFETCH(int, format);
    QFETCH(bool, displayP3);
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("cache/copies"));
    QImage image = pattern(size, 5, QImage::Format(format));
    if (displayP3)
        image.setColorSpace(QColorSpace(QColorSpace::DisplayP3));
    const QImage expected = image.convertToFormat(QImage::Format_RGB32);
    {
        PhotoDiskCache cache(folder);
        QVERIFY(cache.load(key(QStringLiteral("a.heic"))).isNull());
        QVERIFY(cache.store(key(QStringLiteral("a.heic")), image));
        const QImage back = cache.load(key(QStringLiteral("a.heic")));
        QCOMPARE(back.format(), QImage::Format_RGB32);
        QCOMPARE(back, expected);
        QCOMPARE(back.colorSpace().isValid(), displayP3);
        if (displayP3)
            QCOMPARE(back.colorSpace(), QColorSpace(QColorSpace::DisplayP3));
    }
    // A new instance over the same folder, as after a restart of the program.
    PhotoDiskCache again(folder);
    QCOMPARE(again.usedBytes(), entryBytes(size));
    QCOMPARE(again.load(key(QStringLiteral("a.heic"))), expected);
    QVERIFY(again.load(key(QStringLiteral("b.heic"))).isNull());
    // Nothing but the entry is left in the folder (no temporary files).
    QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden).size(), 1);
}

void TestPhotoDiskCache::damagedEntryIsIgnoredAndRewritten_data()
{
    QTest::addColumn<QString>("damage");
    QTest::newRow("truncated pixels") << "truncate";
    QTest::newRow("only half the header") << "header";
    QTest::newRow("empty file") << "empty";
    QTest::newRow("a pixel byte flipped") << "pixel";
    QTest::newRow("width changed in the header") << "width";
    QTest::newRow("bytes appended") << "append";
    QTest::newRow("two 32-byte words of pixels swapped") << "swap";
}

void TestPhotoDiskCache::damagedEntryIsIgnoredAndRewritten()
{
    QFETCH(QString, damage);
    QTemporaryDir dir;
    PhotoDiskCache cache(dir.path());
    const auto k = key(QStringLiteral("a.jpg"));
    const QImage image = pattern({40, 30}, 9);
    QVERIFY(cache.store(k, image));
    const QString path = cache.entryPath(k);
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    QCOMPARE(bytes.size(), entryBytes(image.size()));
    if (damage == QLatin1String("truncate"))
        bytes.chop(5);
    else if (damage == QLatin1String("header"))
        bytes.truncate(32);
    else if (damage == QLatin1String("empty"))
        bytes.clear();
    else if (damage == QLatin1String("pixel"))
        bytes[64 + 40 * 4 * 15 + 6] = char(bytes[64 + 40 * 4 * 15 + 6] ^ 0x10);
    else if (damage == QLatin1String("swap")) {
        const QByteArray first = bytes.mid(64 + 32 * 3, 32);
        const QByteArray second = bytes.mid(64 + 32 * 40, 32);
        QVERIFY(first != second);
        bytes.replace(64 + 32 * 3, 32, second);
        bytes.replace(64 + 32 * 40, 32, first);
    } else if (damage == QLatin1String("width"))
        bytes[32] = char(bytes[32] ^ 0x01); // width 40 becomes 41
    else
        bytes.append("xyz");
    QVERIFY(f.resize(0));
    QVERIFY(f.seek(0));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();

    QVERIFY(cache.load(k).isNull());
    QVERIFY(PhotoDiskCache(dir.path()).load(k).isNull());
    QVERIFY(cache.store(k, image));
    QCOMPARE(cache.load(k), image);
    QCOMPARE(PhotoDiskCache(dir.path()).load(k), image);
}

void TestPhotoDiskCache::changedStampMisses_data()
{
    QTest::addColumn<PhotoDiskCache::Key>("other");
    const auto k = key(QStringLiteral("a.jpg"));
    PhotoDiskCache::Key size = k;
    size.size = 1001;
    PhotoDiskCache::Key time = k;
    time.modifiedMs += 1;
    PhotoDiskCache::Key box = k;
    box.box = {64, 49};
    PhotoDiskCache::Key path = k;
    path.path = QStringLiteral("/photos/b.jpg");
    PhotoDiskCache::Key missing = k;
    missing.size = -1;
    QTest::newRow("file size") << size;
    QTest::newRow("modification time") << time;
    QTest::newRow("display box") << box;
    QTest::newRow("path") << path;
    QTest::newRow("file gone") << missing;
}

void TestPhotoDiskCache::changedStampMisses()
{
    QFETCH(PhotoDiskCache::Key, other);
    QTemporaryDir dir;
    PhotoDiskCache cache(dir.path());
    QVERIFY(cache.store(key(QStringLiteral("a.jpg")), pattern({16, 16}, 1)));
    QVERIFY(cache.load(other).isNull());
    QVERIFY(!cache.load(key(QStringLiteral("a.jpg"))).isNull());

    // keyFor reads the stamp of the file as it is now.
    const QString file = dir.filePath(QStringLiteral("photo.jpg"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("12345");
    f.close();
    const auto before = PhotoDiskCache::keyFor(file, {64, 48});
    QCOMPARE(before.size, 5);
    QVERIFY(cache.store(before, pattern({16, 16}, 2)));
    QVERIFY(f.open(QIODevice::Append));
    f.write("6");
    f.close();
    QVERIFY(cache.load(PhotoDiskCache::keyFor(file, {64, 48})).isNull());
    QVERIFY(!cache.load(before).isNull());
}

void TestPhotoDiskCache::rewrittenPhotoMissesWhateverItsTime_data()
{
    QTest::addColumn<qint64>("at");
    QTest::newRow("first bytes") << qint64(100);
    QTest::newRow("last bytes") << qint64(-100);
}

// A photo replaced by other bytes of the same size, its modification time set back as an archive or
// a time-keeping copy does: the old copy must not be shown for the new photo.
void TestPhotoDiskCache::rewrittenPhotoMissesWhateverItsTime()
{
    QFETCH(qint64, at);
    QTemporaryDir dir;
    PhotoDiskCache cache(dir.filePath(QStringLiteral("cache")));
    const QString file = dir.filePath(QStringLiteral("photo.jpg"));
    QByteArray bytes(300'000, 'a');
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    struct stat before {};
    QCOMPARE(::stat(QFile::encodeName(file).constData(), &before), 0);
    QVERIFY(cache.store(PhotoDiskCache::keyFor(file, {64, 48}), pattern({16, 16}, 3)));
    QVERIFY(!cache.load(PhotoDiskCache::keyFor(file, {64, 48})).isNull());

    bytes[at >= 0 ? at : bytes.size() + at] = 'b';
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
    f.close();
    const timespec times[2] = {before.st_atim, before.st_mtim};
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);
    QVERIFY(cache.load(PhotoDiskCache::keyFor(file, {64, 48})).isNull());
}

// The temporary file of an entry whose writing was cut short goes at the cache's first use; one
// being written (recently changed) stays.
void TestPhotoDiskCache::abandonedTemporaryEntriesAreSwept()
{
    QTemporaryDir dir;
    const QString stale = dir.filePath(QStringLiteral(".0123456789abcdef.qrdc.1a2b3c.part"));
    const QString fresh = dir.filePath(QStringLiteral(".fedcba9876543210.qrdc.4d5e.part"));
    for (const QString& path : {stale, fresh}) {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("partial");
    }
    QFile old(stale);
    QVERIFY(old.open(QIODevice::ReadWrite));
    QVERIFY(old.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime));
    old.close();
    PhotoDiskCache cache(dir.path());
    QCOMPARE(cache.usedBytes(), 0);
    QVERIFY(!QFile::exists(stale));
    QVERIFY(QFile::exists(fresh));
}

void TestPhotoDiskCache::budgetEvictsLeastRecentlyUsed()
{
    QTemporaryDir dir;
    const QSize size(32, 32);
    const std::int64_t budget = entryBytes(size) * 3 + 10;
    {
        PhotoDiskCache cache(dir.path(), budget);
        QVERIFY(cache.store(key(QStringLiteral("a")), pattern(size, 1)));
        QVERIFY(cache.store(key(QStringLiteral("b")), pattern(size, 2)));
        QVERIFY(cache.store(key(QStringLiteral("c")), pattern(size, 3)));
        QVERIFY(!cache.load(key(QStringLiteral("a"))).isNull()); // a is now the most recent
        QVERIFY(cache.store(key(QStringLiteral("d")), pattern(size, 4)));
        QVERIFY(cache.usedBytes() <= budget);
        QVERIFY(cache.load(key(QStringLiteral("b"))).isNull());
        // An entry larger than the whole budget is not stored and evicts nothing.
        QVERIFY(!cache.store(key(QStringLiteral("big")), pattern({64, 64}, 5)));
        QVERIFY(!cache.load(key(QStringLiteral("c"))).isNull());
        QVERIFY(!cache.load(key(QStringLiteral("d"))).isNull());
        QVERIFY(!cache.load(key(QStringLiteral("a"))).isNull());
    }
    // After a restart the order of use is read from the files: c, d, a were used last in that order
    // (while a, c, d is the order they were written in), so c goes next.
    PhotoDiskCache again(dir.path(), budget);
    QCOMPARE(again.usedBytes(), entryBytes(size) * 3);
    QVERIFY(again.store(key(QStringLiteral("e")), pattern(size, 6)));
    QVERIFY(again.load(key(QStringLiteral("c"))).isNull());
    QVERIFY(!again.load(key(QStringLiteral("a"))).isNull());
    QVERIFY(!again.load(key(QStringLiteral("d"))).isNull());
    QVERIFY(!again.load(key(QStringLiteral("e"))).isNull());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3);
}

void TestPhotoDiskCache::unusableFolderFailsCleanly()
{
    QTemporaryDir dir;
    // A folder that cannot be made: its parent is a file.
    const QString file = dir.filePath(QStringLiteral("plain"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    PhotoDiskCache blocked(file + QStringLiteral("/cache"));
    QVERIFY(!blocked.store(key(QStringLiteral("a")), pattern({8, 8}, 1)));
    QVERIFY(blocked.load(key(QStringLiteral("a"))).isNull());
    QCOMPARE(blocked.usedBytes(), 0);

    // A read-only folder (the superuser writes regardless, so only checked for other users).
    if (::geteuid() != 0) {
        const QString ro = dir.filePath(QStringLiteral("ro"));
        QVERIFY(QDir().mkpath(ro));
        QVERIFY(QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        PhotoDiskCache readOnly(ro);
        QVERIFY(!readOnly.store(key(QStringLiteral("a")), pattern({8, 8}, 1)));
        QVERIFY(readOnly.load(key(QStringLiteral("a"))).isNull());
        QFile::setPermissions(ro, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    }
    // A null image or an invalid key is refused.
    PhotoDiskCache cache(dir.filePath(QStringLiteral("ok")));
    QVERIFY(!cache.store(key(QStringLiteral("a")), QImage()));
    QVERIFY(!cache.store(key(QStringLiteral("a"), QSize()), pattern({8, 8}, 1)));
}

void TestPhotoDiskCache::concurrentUse()
{
    QTemporaryDir dir;
    const QSize size(24, 16);
    PhotoDiskCache cache(dir.path(), entryBytes(size) * 6);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                const int n = (i * 3 + t) % 10;
                const auto k = key(QString::number(n));
                const QImage expected = pattern(size, n);
                cache.store(k, expected);
                const QImage back = cache.load(k);
                // Evicted by another thread meanwhile is fine; other pixels are not.
                if (!back.isNull() && back != expected)
                    ++wrong;
            }
        });
    }
    for (auto& t : threads)
        t.join();
    QCOMPARE(wrong.load(), 0);
    QVERIFY(cache.usedBytes() <= entryBytes(size) * 6);
    QVERIFY(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() <= 6);
}

QTEST_GUILESS_MAIN(TestPhotoDiskCache)
#include "tst_PhotoDiskCache.moc"
