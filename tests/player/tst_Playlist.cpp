#include "player/Playlist.h"

#include "../decode/DecodeFixtures.h"
#include "PlayerFixtures.h"
#include "decode/Lz4FrameEncoder.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

using namespace qr;

using IndexList = QList<std::int32_t>;

namespace {

// "kro_%03d_%03d_01.<ext>" names of set `set`, photos 1..count.
QStringList setNames(int set, int count, const QString& ext = QStringLiteral("jpg"))
{
    QStringList names;
    for (int i = 1; i <= count; ++i)
        names.append(QStringLiteral("kro_%1_%2_01.%3")
                         .arg(set, 3, 10, QLatin1Char('0'))
                         .arg(i, 3, 10, QLatin1Char('0'))
                         .arg(ext));
    return names;
}

// Writes a set of photos: first and last carry `comment` (null: none), the others no comment at all,
// which shows that only the first and last are read.
void writeJpegSet(const QString& root, const QStringList& names, const QString& comment)
{
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool end = i == 0 || i == names.size() - 1;
        QVERIFY(fixtures::makeJpeg(root + QLatin1Char('/') + names.at(i), end ? comment : QString(), {16, 16},
                                   static_cast<int>(i)));
    }
}

void writeRaw(const QString& path, const QByteArray& bytes)
{
    QVERIFY(fixtures::writeFile(path, bytes));
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

using Phase = PlaylistProgress::Phase;

// A Downloads folder with `containers` containers of one photo each (set numbers from 50 up, so no
// container makes a set), `frames` compressed frames of one short run, and `sets` signed JPEG sets of
// ten. Returns the container bytes and the frames' decoded bytes by name.
struct PassFolder {
    QHash<QString, QByteArray> containers; // name -> bytes
    QHash<QString, QByteArray> frames;     // "<name>.rgb" -> decoded bytes
    QHash<QString, QByteArray> encoded;    // "<name>.rgb2" -> encoded bytes
};

PassFolder makePassFolder(const QString& root, int containers, int frames, int sets)
{
    PassFolder folder;
    for (int c = 0; c < containers; ++c) {
        fixtures::KroxContainer container;
        container.setNumber = 50 + c;
        container.firstPhoto = 1;
        container.entries.append({1, fixtures::pattern(2000 + c, static_cast<std::uint32_t>(c))});
        const QString name = QStringLiteral("burst%1.krox").arg(c);
        folder.containers.insert(name, container.bytes());
        writeRaw(root + QLatin1Char('/') + name, folder.containers.value(name));
    }
    for (int f = 1; f <= frames; ++f) {
        const QString base = QStringLiteral("kro_90_%1_01").arg(f, 3, 10, QLatin1Char('0'));
        const QByteArray bytes = fixtures::pattern(200'000 + f, static_cast<std::uint32_t>(f));
        folder.frames.insert(base + ".rgb", bytes);
        folder.encoded.insert(base + ".rgb2", Lz4FrameEncoder::encode(bytes, 4096));
        writeRaw(root + QLatin1Char('/') + base + ".rgb2", folder.encoded.value(base + ".rgb2"));
    }
    for (int set = 1; set <= sets; ++set)
        writeJpegSet(root, setNames(set, 10), fixtures::signature("10.1"));
    return folder;
}

// Runs the pass on a thread of its own and waits for it; nothing if it did not end within a minute
// (the thread is then left behind: it hangs).
std::optional<PlaylistResult> passOrHang(PlaylistRequest request)
{
    auto promise = std::make_shared<std::promise<PlaylistResult>>();
    std::future<PlaylistResult> future = promise->get_future();
    std::thread([promise, request]() mutable {
        promise->set_value(Playlist::generatePlaylist(request));
    }).detach();
    if (future.wait_for(std::chrono::minutes(1)) != std::future_status::ready)
        return std::nullopt;
    return future.get();
}

bool makeSocket(const QString& path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (fd < 0 || native.size() >= static_cast<qsizetype>(sizeof addr.sun_path))
        return false;
    std::memcpy(addr.sun_path, native.constData(), static_cast<std::size_t>(native.size()));
    return ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
}

// A small container of ten photos of set `set`, first and last signed.
QByteArray kroxOfTen(int set, const QString& scratch)
{
    fixtures::KroxContainer container;
    container.setNumber = set;
    container.firstPhoto = 1;
    for (int i = 0; i < 10; ++i) {
        const QString photo = scratch + QStringLiteral("/p%1.jpg").arg(i);
        if (!fixtures::makeJpeg(photo, i == 0 || i == 9 ? fixtures::signature("10.1") : QString(), {16, 16},
                                i))
            return {};
        container.entries.append({1, readAll(photo)});
    }
    return container.bytes();
}

} // namespace

class TestPlaylist : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void sortedList_data();
    void sortedList();
    void candidate_data();
    void candidate();
    void sets_data();
    void sets();
    void setNeedsBothEndsSigned_data();
    void setNeedsBothEndsSigned();
    void setsSplitAtKey_data();
    void setsSplitAtKey();
    void passOrdersSignedSets_data();
    void passOrdersSignedSets();
    void passTypeFilter_data();
    void passTypeFilter();
    void rgb2BecomesRgbInSamePass();
    void undecodableRgb2StaysAndWritesNothing();
    void rgbNameComesFromWholeFileName();
    void containerIsNotUnpackedAgainWhileItsFilesStand();
    void passStopsBeforeFillingTheDisk_data();
    void passSweepsAbandonedTemporaryFiles_data();
    void passSweepsAbandonedTemporaryFiles();
    void passStopsBeforeFillingTheDisk();
    void settlingLaterKeepsBothFilesUntilSettled();
    void containerPhotosJoinPass();
    void heicSetPasses();
    void listingDoesNotFollowFolderLinks();
    void passReportsProgressInOrder_data();
    void passReportsProgressInOrder();
    void stoppedPassLeavesWholeFiles_data();
    void stoppedPassLeavesWholeFiles();
    void nothingPlayableGivesCommonestReason_data();
    void nothingPlayableGivesCommonestReason();
    void oddEntriesDoNotStopPass_data();
    void oddEntriesDoNotStopPass();
    void fileVanishingBeforeItIsReadEndsOnlyThatFile();
    void stoppedPassWritesNothing();
    void largeFolderReadsOnlyEndsOfRuns();
};

void TestPlaylist::sortedList_data()
{
    QTest::addColumn<QStringList>("input");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("byte order")
        << QStringList{"krox_001_001.jpg", "kro_a", "kro_B", "kro_1", "KRO_z", "kro__"}
        << QStringList{"KRO_z", "kro_1", "kro_B", "kro__", "kro_a", "krox_001_001.jpg"};
    QTest::newRow("one element") << QStringList{"b"} << QStringList{"b"};
    QTest::newRow("empty") << QStringList{} << QStringList{};
}

void TestPlaylist::sortedList()
{
    QFETCH(QStringList, input);
    QFETCH(QStringList, expected);
    QCOMPARE(Playlist::getSortedListOfFiles(input), expected);
}

void TestPlaylist::candidate_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("filter");
    QTest::addColumn<bool>("candidate");
    QTest::newRow("jpg, all") << "kro_001_001_01.jpg" << 3 << true;
    QTest::newRow("jpg, JPEG") << "kro_001_001_01.jpg" << 0 << true;
    QTest::newRow("jpg, HEIC") << "kro_001_001_01.jpg" << 1 << false;
    QTest::newRow("heic, HEIC") << "kro_01_001_01.heic" << 1 << true;
    QTest::newRow("rgb, HEIC") << "kro_01_001_01.rgb" << 1 << false;
    QTest::newRow("rgb, RGB") << "kro_01_001_01.rgb" << 2 << true;
    QTest::newRow("krox prefix") << "krox_001_001.jpg" << 3 << true;
    QTest::newRow("upper-case prefix") << "KRO_001_001_01.jpg" << 3 << false;
    QTest::newRow("upper-case extension") << "kro_001_001_01.JPG" << 3 << false;
    QTest::newRow("rgb2") << "kro_007_003_01.rgb2" << 3 << false;
    QTest::newRow("exif") << "krox_001_002.exif" << 3 << false;
    QTest::newRow("in a sub-folder") << "sub/kro_001_001_01.jpg" << 3 << false;
    QTest::newRow("other prefix") << "photo_001.jpg" << 3 << false;
}

void TestPlaylist::candidate()
{
    QFETCH(QString, path);
    QFETCH(int, filter);
    QFETCH(bool, candidate);
    QCOMPARE(Playlist::isCandidate(path, filter), candidate);
}

void TestPlaylist::sets_data()
{
    QTest::addColumn<QList<int>>("runs"); // photos per set key, keys 1, 2, ...
    QTest::addColumn<QList<int>>("unsignedKeys");
    QTest::addColumn<int>("fifoLifo");
    QTest::addColumn<int>("playlistSize");
    QTest::addColumn<IndexList>("indexes");
    QTest::newRow("9 photos") << QList<int>{9} << QList<int>{} << 1 << 0 << IndexList{};
    QTest::newRow("10 photos") << QList<int>{10} << QList<int>{} << 1 << 10 << IndexList{0, 9};
    QTest::newRow("two sets, LIFO") << QList<int>{12, 15} << QList<int>{} << 1 << 27
                                    << IndexList{0, 11, 12, 26};
    QTest::newRow("two sets, FIFO") << QList<int>{12, 15} << QList<int>{} << 0 << 27
                                    << IndexList{12, 26, 0, 11};
    QTest::newRow("5 then 20") << QList<int>{5, 20} << QList<int>{} << 1 << 20 << IndexList{0, 19};
    QTest::newRow("unsigned set keeps its positions")
        << QList<int>{10, 11} << QList<int>{1} << 1 << 21 << IndexList{10, 20};
    QTest::newRow("three sets, FIFO")
        << QList<int>{10, 10, 10} << QList<int>{} << 0 << 30 << IndexList{20, 29, 10, 19, 0, 9};
}

void TestPlaylist::sets()
{
    QFETCH(QList<int>, runs);
    QFETCH(QList<int>, unsignedKeys);
    QFETCH(int, fifoLifo);
    QFETCH(int, playlistSize);
    QFETCH(IndexList, indexes);
    QStringList candidates;
    for (int key = 1; key <= runs.size(); ++key)
        candidates += setNames(key, runs.at(key - 1));
    QStringList checked;
    QStringList playlist;
    IndexList pairs;
    Playlist::cutIntoSets(
        candidates,
        [&](const QString& name) {
            checked.append(name);
            return !unsignedKeys.contains(name.mid(4, 3).toInt());
        },
        playlist, pairs);
    QCOMPARE(playlist.size(), playlistSize);
    QCOMPARE(Playlist::orderPairs(pairs, fifoLifo), indexes);
    for (const QString& name : checked) {
        const QStringList set = setNames(name.mid(4, 3).toInt(), runs.at(name.mid(4, 3).toInt() - 1));
        QVERIFY2(name == set.first() || name == set.last(), qPrintable(name));
    }
}

void TestPlaylist::setNeedsBothEndsSigned_data()
{
    QTest::addColumn<QString>("unsignedName");
    QTest::addColumn<IndexList>("indexes");
    // Set 1 (10 photos) is signed throughout; set 2 (11 photos) has one unsigned photo.
    QTest::newRow("first only unsigned") << "kro_002_001_01.jpg" << IndexList{0, 9};
    QTest::newRow("last only unsigned") << "kro_002_011_01.jpg" << IndexList{0, 9};
    QTest::newRow("a middle one unsigned") << "kro_002_005_01.jpg" << IndexList{0, 9, 10, 20};
}

void TestPlaylist::setNeedsBothEndsSigned()
{
    QFETCH(QString, unsignedName);
    QFETCH(IndexList, indexes);
    QStringList playlist;
    IndexList pairs;
    Playlist::cutIntoSets(
        setNames(1, 10) + setNames(2, 11), [&](const QString& name) { return name != unsignedName; },
        playlist, pairs);
    QCOMPARE(playlist.size(), 21);
    QCOMPARE(pairs, indexes);
}

void TestPlaylist::setsSplitAtKey_data()
{
    QTest::addColumn<QStringList>("candidates");
    QTest::addColumn<IndexList>("indexes");
    const auto run = [](const QString& pattern, int count) {
        QStringList names;
        for (int i = 1; i <= count; ++i)
            names.append(pattern.arg(i, 3, 10, QLatin1Char('0')));
        return names;
    };
    QTest::newRow("krox_005, krox_006")
        << run("krox_005_%1.jpg", 10) + run("krox_006_%1.jpg", 12) << IndexList{0, 9, 10, 21};
    QTest::newRow("kro_01_099, kro_01_100")
        << run("kro_01_099_%1.heic", 10) + run("kro_01_100_%1.heic", 12) << IndexList{0, 9, 10, 21};
    // The key is the first 8 characters, so these two share one.
    QTest::newRow("kro_01_098, kro_01_099")
        << run("kro_01_098_%1.heic", 10) + run("kro_01_099_%1.heic", 12) << IndexList{0, 21};
}

void TestPlaylist::setsSplitAtKey()
{
    QFETCH(QStringList, candidates);
    QFETCH(IndexList, indexes);
    QStringList playlist;
    IndexList pairs;
    Playlist::cutIntoSets(
        candidates, [](const QString&) { return true; }, playlist, pairs);
    QCOMPARE(playlist, candidates);
    QCOMPARE(pairs, indexes);
    QCOMPARE(Playlist::countSets(candidates), int(indexes.size() / 2));
}

void TestPlaylist::passOrdersSignedSets_data()
{
    QTest::addColumn<int>("fifoLifo");
    QTest::addColumn<QString>("secondSetVersion");
    QTest::addColumn<IndexList>("indexes");
    QTest::newRow("LIFO") << 1 << "10.1" << IndexList{0, 11, 12, 26};
    QTest::newRow("FIFO") << 0 << "10.1" << IndexList{12, 26, 0, 11};
    QTest::newRow("second set 9.57") << 1 << "9.57" << IndexList{0, 11};
}

void TestPlaylist::passOrdersSignedSets()
{
    QFETCH(int, fifoLifo);
    QFETCH(QString, secondSetVersion);
    QFETCH(IndexList, indexes);
    QTemporaryDir dir;
    writeJpegSet(dir.path(), setNames(1, 12), fixtures::signature("9.58"));
    writeJpegSet(dir.path(), setNames(2, 15), fixtures::signature(secondSetVersion));
    writeJpegSet(dir.path(), setNames(3, 9), fixtures::signature("9.58"));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.fifoLifo = fifoLifo;
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.symbolicPath, dir.path());
    QCOMPARE(result.sortedList, setNames(1, 12) + setNames(2, 15));
    QCOMPARE(result.setIndexes, indexes);
}

void TestPlaylist::passTypeFilter_data()
{
    QTest::addColumn<int>("filter");
    QTest::addColumn<QStringList>("playlist");
    QTest::addColumn<IndexList>("indexes");
    const QStringList jpg = setNames(1, 10);
    const QStringList rgb = setNames(3, 10, "rgb");
    QTest::newRow("JPEG") << 0 << jpg << IndexList{0, 9};
    QTest::newRow("RGB") << 2 << rgb << IndexList{0, 9};
    QTest::newRow("HEIC") << 1 << QStringList{} << IndexList{};
    QTest::newRow("all") << 3 << jpg + rgb << IndexList{0, 9, 10, 19};
}

void TestPlaylist::passTypeFilter()
{
    QFETCH(int, filter);
    QFETCH(QStringList, playlist);
    QFETCH(IndexList, indexes);
    QTemporaryDir dir;
    writeJpegSet(dir.path(), setNames(1, 10), fixtures::signature("10.1"));
    // Five JPEG photos that carry the raw set's neighbour key: a short run whatever the filter.
    writeJpegSet(dir.path(), setNames(2, 5), fixtures::signature("10.1"));
    for (const QString& name : setNames(3, 10, "rgb"))
        writeRaw(dir.filePath(name), QByteArray(12, 'x'));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.typeFilter = filter;
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.sortedList, playlist);
    QCOMPARE(result.setIndexes, indexes);
}

void TestPlaylist::rgb2BecomesRgbInSamePass()
{
    QTemporaryDir dir;
    QList<QByteArray> frames;
    for (int i = 1; i <= 10; ++i) {
        frames.append(fixtures::pattern(3000 + i, static_cast<std::uint32_t>(i)));
        const QString name = QStringLiteral("kro_07_%1_01.rgb2").arg(i, 3, 10, QLatin1Char('0'));
        writeRaw(dir.filePath(name), Lz4FrameEncoder::encode(frames.last(), 1024));
    }
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.typeFilter = 2;
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.framesDecompressed, 10);
    QCOMPARE(result.sortedList.size(), 10);
    QCOMPARE(result.setIndexes, (IndexList{0, 9}));
    for (int i = 1; i <= 10; ++i) {
        const QString base = QStringLiteral("kro_07_%1_01").arg(i, 3, 10, QLatin1Char('0'));
        QCOMPARE(result.sortedList.at(i - 1), base + ".rgb");
        QCOMPARE(readAll(dir.filePath(base + ".rgb")), frames.at(i - 1));
        QVERIFY(!QFile::exists(dir.filePath(base + ".rgb2")));
    }
}

// A frame that is only added, under a name that begins like a user's frame, never takes that frame's
// place: every `.rgb2` becomes the `.rgb` of its own whole name.
void TestPlaylist::rgbNameComesFromWholeFileName()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("kro_007_003_01.rgb2_x")));
    const QStringList sources = {QStringLiteral("kro_007_003_01.rgb2"),
                                 QStringLiteral("kro_007_003_01.rgb2.rgb2"),
                                 QStringLiteral("kro_007_003_01.rgb2_x/z.rgb2")};
    QList<QByteArray> frames;
    for (int i = 0; i < sources.size(); ++i) {
        frames.append(fixtures::pattern(5000 + i, static_cast<std::uint32_t>(40 + i)));
        writeRaw(dir.filePath(sources.at(i)), Lz4FrameEncoder::encode(frames.last(), 1024));
    }
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.typeFilter = 2;
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.framesDecompressed, 3);
    for (int i = 0; i < sources.size(); ++i) {
        const QString rgb = sources.at(i).chopped(1);
        QCOMPARE(readAll(dir.filePath(rgb)), frames.at(i));
        QVERIFY(!QFile::exists(dir.filePath(sources.at(i))));
    }
}

namespace {

ino_t inodeOf(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

} // namespace

// A container of compressed frames would otherwise become its frames again at every pass.
void TestPlaylist::containerIsNotUnpackedAgainWhileItsFilesStand()
{
    QTemporaryDir dir;
    QTemporaryDir state;
    fixtures::KroxContainer container;
    container.setNumber = 7;
    container.firstPhoto = 1;
    const QByteArray frame = fixtures::pattern(30'000, 9);
    container.entries.append({1, fixtures::pattern(3000, 1)});
    container.entries.append({3, Lz4FrameEncoder::encode(frame, 4096)});
    const QString krox = dir.filePath(QStringLiteral("burst.krox"));
    writeRaw(krox, container.bytes());
    const QString photo = dir.filePath(QStringLiteral("krox_007_001.jpg"));
    const QString rgb = dir.filePath(QStringLiteral("krox_007_002.rgb"));

    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.unpackRecord = state.filePath(QStringLiteral("record/unpacked-containers"));
    QCOMPARE(Playlist::generatePlaylist(request).containersUnpacked, 1);
    QCOMPARE(readAll(rgb), frame);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("krox_007_002.rgb2"))));
    const ino_t photoInode = inodeOf(photo);
    const ino_t rgbInode = inodeOf(rgb);

    // Its files stand (the frame as its `.rgb`): nothing is written again.
    QCOMPARE(Playlist::generatePlaylist(request).framesDecompressed, 0);
    QCOMPARE(inodeOf(photo), photoInode);
    QCOMPARE(inodeOf(rgb), rgbInode);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("krox_007_002.rgb2"))));

    // One of them gone: the container is unpacked again.
    QVERIFY(QFile::remove(photo));
    Playlist::generatePlaylist(request);
    QCOMPARE(readAll(photo), container.entries.at(0).payload);

    // The container rewritten with the same bytes and modification time is another container.
    const ino_t again = inodeOf(photo);
    QFile f(krox);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const QDateTime modified = f.fileTime(QFileDevice::FileModificationTime);
    QCOMPARE(f.write(container.bytes()), container.bytes().size());
    QVERIFY(f.setFileTime(modified, QFileDevice::FileModificationTime));
    f.close();
    QCOMPARE(Playlist::generatePlaylist(request).framesDecompressed, 1);
    QVERIFY(inodeOf(photo) != again);

    // A damaged record remembers nothing: everything is unpacked.
    writeRaw(request.unpackRecord, QByteArray("C\tnot\tright\nO\tx\n\x01\x02"));
    const ino_t before = inodeOf(photo);
    Playlist::generatePlaylist(request);
    QVERIFY(inodeOf(photo) != before);
}

void TestPlaylist::passStopsBeforeFillingTheDisk_data()
{
    QTest::addColumn<bool>("container");
    QTest::newRow("unpacking a container") << true;
    QTest::newRow("decompressing frames") << false;
}

void TestPlaylist::passStopsBeforeFillingTheDisk()
{
    QFETCH(bool, container);
    QTemporaryDir dir;
    const QByteArray frame = fixtures::pattern(30'000, 3);
    if (container) {
        fixtures::KroxContainer krox;
        krox.setNumber = 8;
        krox.firstPhoto = 1;
        krox.entries.append({1, fixtures::pattern(3000, 1)});
        writeRaw(dir.filePath(QStringLiteral("burst.krox")), krox.bytes());
    } else {
        writeRaw(dir.filePath(QStringLiteral("kro_09_001_01.rgb2")), Lz4FrameEncoder::encode(frame, 4096));
    }
    writeJpegSet(dir.path(), setNames(1, 10), fixtures::signature("10.1"));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    // A little more than what must stay free: not enough for a frame, nor for the container.
    request.freeBytes = [](const QString&) {
        return Playlist::kDiskReserveBytes + 1000;
    };
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QVERIFY(result.stopped);
    QVERIFY2(result.stopReason.contains(QLatin1String("disk")), qPrintable(result.stopReason));
    QVERIFY(result.sortedList.isEmpty());
    QCOMPARE(result.framesDecompressed, 0);
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("krox_008_001.jpg"))));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("kro_09_001_01.rgb"))));
    if (!container)
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("kro_09_001_01.rgb2"))));

    // With room the same pass goes through.
    request.freeBytes = [](const QString&) {
        return std::int64_t{1} << 40;
    };
    const PlaylistResult roomy = Playlist::generatePlaylist(request);
    QVERIFY(!roomy.stopped);
    QVERIFY(roomy.stopReason.isEmpty());
    QCOMPARE(roomy.setIndexes.size(), 2);
}

void TestPlaylist::passSweepsAbandonedTemporaryFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("ageSeconds");
    QTest::addColumn<bool>("link");
    QTest::addColumn<bool>("swept");
    QTest::newRow("frame's, an hour old") << ".kro_01_001_01.rgb.1a2b3c4d.part" << 3600 << false << true;
    QTest::newRow("photo's, in a folder") << "sub/.krox_001_002.jpg.ff.part" << 3600 << false << true;
    QTest::newRow("frame's, being written") << ".kro_01_001_01.rgb.1a2b3c4d.part" << 10 << false << false;
    QTest::newRow("a link of that name") << ".kro_01_001_01.rgb.1a2b3c4d.part" << 3600 << true << false;
    QTest::newRow("another kind of file") << ".notes.txt.1a2b.part" << 3600 << false << false;
    QTest::newRow("a browser's download") << "holiday.jpg.part" << 3600 << false << false;
    QTest::newRow("not hex") << ".kro_01_001_01.rgb.xyz.part" << 3600 << false << false;
}

// Temporary files that a killed write of this program left in Downloads go at the next pass; nothing
// that this program may not have written, or may still be writing, is touched.
void TestPlaylist::passSweepsAbandonedTemporaryFiles()
{
    QFETCH(QString, name);
    QFETCH(int, ageSeconds);
    QFETCH(bool, link);
    QFETCH(bool, swept);
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("sub")));
    const QString path = dir.filePath(name);
    const QString target = dir.filePath(QStringLiteral("target.rgb"));
    writeRaw(link ? target : path, QByteArray("partial"));
    QFile f(link ? target : path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QVERIFY(
        f.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds), QFileDevice::FileModificationTime));
    f.close();
    if (link)
        QVERIFY(QFile::link(target, path));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    Playlist::generatePlaylist(request);
    QCOMPARE(QFileInfo(path).exists() || QFileInfo(path).isSymLink(), !swept);
    if (link)
        QCOMPARE(readAll(target), QByteArray("partial"));
}

// A pass that leaves the settling to its caller hands over with every `.rgb` written and every
// `.rgb2` still there; settling stopped part way leaves the frames not reached with both files, and
// never removes a `.rgb2` put in place of the one decompressed; a later pass that finds both
// decompresses the frame again (its `.rgb` may never have reached the disk), and settling to the
// end leaves only the `.rgb`.
void TestPlaylist::settlingLaterKeepsBothFilesUntilSettled()
{
    constexpr int kFrames = 6;
    QTemporaryDir dir;
    const QDir root(dir.path());
    PassFolder folder = makePassFolder(dir.path(), 0, kFrames, 0);
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.settleLater = true;
    const PlaylistResult first = Playlist::generatePlaylist(request);
    QCOMPARE(first.framesDecompressed, kFrames);
    QList<DecompressedFrame> unsettled = first.unsettled;
    std::sort(unsettled.begin(), unsettled.end(),
              [](const DecompressedFrame& a, const DecompressedFrame& b) { return a.rgb2 < b.rgb2; });
    QStringList rgb2s;
    for (const DecompressedFrame& frame : unsettled)
        rgb2s.append(frame.rgb2);
    QStringList names = folder.encoded.keys();
    names.sort();
    QCOMPARE(rgb2s, names);
    for (auto it = folder.frames.cbegin(); it != folder.frames.cend(); ++it) {
        QCOMPARE(readAll(root.filePath(it.key())), it.value());
        QCOMPARE(readAll(root.filePath(it.key() + '2')), folder.encoded.value(it.key() + '2'));
    }
    const auto settled = [&] {
        return std::count_if(rgb2s.cbegin(), rgb2s.cend(),
                             [&](const QString& rgb2) { return !QFile::exists(root.filePath(rgb2)); });
    };
    const auto settle = [&](qsizetype from, qsizetype until) {
        return Playlist::settleDecompressed(dir.path(), unsettled.mid(from),
                                            [&] { return settled() < until; });
    };

    // Stopped once two frames are settled: those two lose their `.rgb2`, the rest keep both.
    QCOMPARE(settle(0, 2), 2);
    for (int i = 0; i < kFrames; ++i) {
        QCOMPARE(QFile::exists(root.filePath(rgb2s.at(i))), i >= 2);
        QCOMPARE(readAll(root.filePath(rgb2s.at(i).chopped(1))), folder.frames.value(rgb2s.at(i).chopped(1)));
    }

    // A `.rgb2` replaced by another frame after the pass read it stays; settling goes on with the
    // next frames.
    const QString replaced = rgb2s.at(2);
    folder.frames[replaced.chopped(1)] = fixtures::pattern(150'000, 77);
    folder.encoded[replaced] = Lz4FrameEncoder::encode(folder.frames.value(replaced.chopped(1)), 4096);
    QFile::remove(root.filePath(replaced));
    writeRaw(root.filePath(replaced), folder.encoded.value(replaced));
    QCOMPARE(settle(2, 4), 2);
    QCOMPARE(readAll(root.filePath(replaced)), folder.encoded.value(replaced));
    for (int i = 3; i < kFrames; ++i)
        QCOMPARE(QFile::exists(root.filePath(rgb2s.at(i))), i == kFrames - 1);

    // A frame left with both files whose `.rgb` did not survive (zeros of the right length, as a
    // crash may leave it) is made again from its `.rgb2`, as is the replaced one.
    const QString damaged = rgb2s.last().chopped(1);
    writeRaw(root.filePath(damaged), QByteArray(folder.frames.value(damaged).size(), '\0'));
    request.settleLater = false;
    const PlaylistResult second = Playlist::generatePlaylist(request);
    QCOMPARE(second.framesDecompressed, 2);
    QVERIFY(second.unsettled.isEmpty());
    for (auto it = folder.frames.cbegin(); it != folder.frames.cend(); ++it) {
        QCOMPARE(readAll(root.filePath(it.key())), it.value());
        QVERIFY(!QFile::exists(root.filePath(it.key() + '2')));
    }
    QCOMPARE(root.entryList({".*.part"}, QDir::Files | QDir::Hidden), QStringList());
}

void TestPlaylist::undecodableRgb2StaysAndWritesNothing()
{
    QTemporaryDir dir;
    const QByteArray garbage = "not an lz4 stream at all";
    writeRaw(dir.filePath("kro_07_001_01.rgb2"), garbage);
    // A cut stream (no end marker) next to an older frame of the same name: the older frame stays.
    const QByteArray older = fixtures::pattern(500, 9);
    writeRaw(dir.filePath("kro_07_002_01.rgb"), older);
    writeRaw(dir.filePath("kro_07_002_01.rgb2"),
             fixtures::lz4Stream(fixtures::pattern(4000, 3), 1024, {fixtures::Block::Compressed}, false));
    QCOMPARE(Playlist::decompressFrames(dir.path()), 0);
    QCOMPARE(readAll(dir.filePath("kro_07_001_01.rgb2")), garbage);
    QVERIFY(!QFile::exists(dir.filePath("kro_07_001_01.rgb")));
    QVERIFY(QFile::exists(dir.filePath("kro_07_002_01.rgb2")));
    QCOMPARE(readAll(dir.filePath("kro_07_002_01.rgb")), older);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files).size(), 3); // no temporary file left behind
}

void TestPlaylist::containerPhotosJoinPass()
{
    QTemporaryDir dir;
    QTemporaryDir scratch;
    fixtures::KroxContainer container;
    container.setNumber = 5;
    container.firstPhoto = 1;
    for (int i = 0; i < 10; ++i) {
        const QString photo = scratch.filePath(QStringLiteral("p%1.jpg").arg(i));
        QVERIFY(fixtures::makeJpeg(photo, i == 0 || i == 9 ? fixtures::signature("10.1") : QString(),
                                   {16, 16}, i));
        container.entries.append({1, readAll(photo)});
    }
    const QByteArray bytes = container.bytes();
    writeRaw(dir.filePath("burst.krox"), bytes);
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.containersUnpacked, 1);
    QCOMPARE(result.sortedList.size(), 10);
    QCOMPARE(result.sortedList.first(), QStringLiteral("krox_005_001.jpg"));
    QCOMPARE(result.sortedList.last(), QStringLiteral("krox_005_010.jpg"));
    QCOMPARE(result.setIndexes, (IndexList{0, 9}));
    QCOMPARE(readAll(dir.filePath("burst.krox")), bytes);
}

void TestPlaylist::heicSetPasses()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("libheif has no HEVC encoder here");
    QTemporaryDir dir;
    const QStringList names = setNames(4, 10, "heic");
    for (qsizetype i = 0; i < names.size(); ++i) {
        const bool end = i == 0 || i == names.size() - 1;
        QVERIFY(fixtures::makeHeic(dir.filePath(names.at(i)), end ? fixtures::signature("9.58") : QString()));
    }
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.typeFilter = 1;
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.sortedList, names);
    QCOMPARE(result.setIndexes, (IndexList{0, 9}));
}

void TestPlaylist::listingDoesNotFollowFolderLinks()
{
    QTemporaryDir dir;
    QTemporaryDir outside;
    QVERIFY(QDir(dir.path()).mkpath("a/b"));
    writeRaw(dir.filePath("a/b/file"), "x");
    writeRaw(outside.filePath("kro_001_001_01.jpg"), "x");
    // A loop back to the root, and a link to a folder elsewhere.
    QVERIFY(QFile::link(dir.path(), dir.filePath("a/b/loop")));
    QVERIFY(QFile::link(outside.path(), dir.filePath("elsewhere")));
    QElapsedTimer clock;
    clock.start();
    // Only regular files are listed; the links to folders are neither listed nor followed.
    QCOMPARE(Playlist::listRecursively(dir.path()), QStringList{"a/b/file"});

    // A Downloads folder that is itself a link to a folder is scanned through the link.
    const QString link = outside.filePath("downloads-link");
    QVERIFY(QFile::link(dir.path(), link));
    QStringList rootListing;
    QCOMPARE(Playlist::resolveScanRoot(link, &rootListing), link);
    QCOMPARE(rootListing, QStringList{"a/b/file"});
}

// Entries that are not regular files, under names the pass looks for, next to a playable set: the
// pass finishes, plays the set, and leaves them as they are.
void TestPlaylist::oddEntriesDoNotStopPass_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::newRow("FIFO x.krox") << "fifo"
                                 << "x.krox";
    QTest::newRow("FIFO x.rgb2") << "fifo"
                                 << "x.rgb2";
    QTest::newRow("FIFO as a photo of the set") << "fifo"
                                                << "kro_001_011_01.jpg";
    QTest::newRow("socket x.krox") << "socket"
                                   << "x.krox";
    QTest::newRow("link to /dev/zero x.rgb2") << "/dev/zero"
                                              << "x.rgb2";
    QTest::newRow("link to /dev/urandom x.krox") << "/dev/urandom"
                                                 << "x.krox";
    QTest::newRow("link to /dev/urandom as a photo") << "/dev/urandom"
                                                     << "kro_001_011_01.jpg";
    QTest::newRow("folder x.krox") << "folder"
                                   << "x.krox";
    QTest::newRow("folder x.rgb2") << "folder"
                                   << "x.rgb2";
}

void TestPlaylist::oddEntriesDoNotStopPass()
{
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QTemporaryDir dir;
    writeJpegSet(dir.path(), setNames(1, 10), fixtures::signature("10.1"));
    const QString path = dir.filePath(name);
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "socket")
        QVERIFY(makeSocket(path));
    else if (kind == "folder")
        QVERIFY(QDir().mkpath(path + "/inner"));
    else
        QVERIFY(QFile::link(kind, path));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    const std::optional<PlaylistResult> result = passOrHang(request);
    QVERIFY2(result, "the pass did not finish");
    QCOMPARE(result->sortedList, setNames(1, 10));
    QCOMPARE(result->setIndexes, (IndexList{0, 9}));
    QCOMPARE(result->containersUnpacked + result->framesDecompressed, 0);
    QCOMPARE(QDir(dir.path())
                 .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             11);
    QVERIFY(QFileInfo(path).exists() || QFileInfo(path).isSymLink());
}

// A container and a frame removed after the listing and before they are read: each ends with
// itself, and the next file is processed.
void TestPlaylist::fileVanishingBeforeItIsReadEndsOnlyThatFile()
{
    QTemporaryDir dir;
    QTemporaryDir scratch;
    const QByteArray container = kroxOfTen(5, scratch.path());
    QVERIFY(!container.isEmpty());
    writeRaw(dir.filePath("a.krox"), container);
    writeRaw(dir.filePath("b.krox"), container);
    const QByteArray frame = fixtures::pattern(3000, 1);
    writeRaw(dir.filePath("kro_07_001_01.rgb2"), Lz4FrameEncoder::encode(frame, 1024));
    writeRaw(dir.filePath("kro_07_002_01.rgb2"), Lz4FrameEncoder::encode(frame, 1024));

    // Asked before each file (by both frame workers): the first time, the first file goes.
    QString doomed;
    std::mutex asking;
    const auto removeFirst = [&doomed, &asking] {
        const std::lock_guard lock(asking);
        if (!doomed.isEmpty())
            QFile::remove(std::exchange(doomed, QString()));
        return true;
    };
    KroxDecoder decoder(scratch.path());
    doomed = dir.filePath("a.krox");
    QCOMPARE(Playlist::unpackContainers(dir.path(), decoder, removeFirst), 1);
    QVERIFY(!QFile::exists(dir.filePath("a.krox")));
    QVERIFY(QFile::exists(dir.filePath("krox_005_001.jpg")) &&
            QFile::exists(dir.filePath("krox_005_010.jpg")));

    doomed = dir.filePath("kro_07_001_01.rgb2");
    QCOMPARE(Playlist::decompressFrames(dir.path(), removeFirst), 1);
    QVERIFY(!QFile::exists(dir.filePath("kro_07_001_01.rgb")));
    QCOMPARE(readAll(dir.filePath("kro_07_002_01.rgb")), frame);
}

// An abandoned pass stops before its next file: nothing is unpacked, decompressed or removed.
void TestPlaylist::stoppedPassWritesNothing()
{
    QTemporaryDir dir;
    QTemporaryDir scratch;
    const QByteArray container = kroxOfTen(5, scratch.path());
    writeRaw(dir.filePath("a.krox"), container);
    writeRaw(dir.filePath("kro_07_001_01.rgb2"), Lz4FrameEncoder::encode(fixtures::pattern(3000, 1), 1024));
    writeJpegSet(dir.path(), setNames(1, 10), fixtures::signature("10.1"));
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.stop = std::make_shared<std::atomic<bool>>(true);
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QVERIFY(result.stopped);
    QCOMPARE(result.containersUnpacked, 0);
    QCOMPARE(result.framesDecompressed, 0);
    QVERIFY(result.setIndexes.isEmpty());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 12);
}

// 200 sets of 45 photos: the pass opens the first and last photo of each run and nothing else
// (every open in the folder is counted by inotify).
void TestPlaylist::largeFolderReadsOnlyEndsOfRuns()
{
    QTemporaryDir dir;
    QTemporaryDir scratch;
    const QString signedPhoto = scratch.filePath("signed.jpg");
    QVERIFY(fixtures::makeJpeg(signedPhoto, fixtures::signature("10.1"), {16, 16}));
    const QByteArray signedBytes = readAll(signedPhoto);
    QSet<QString> ends;
    for (int set = 1; set <= 200; ++set) {
        const QStringList names = setNames(set, 45);
        for (qsizetype i = 0; i < names.size(); ++i) {
            const bool end = i == 0 || i == names.size() - 1;
            // The photos between hold nothing at all: reading one would fail its set.
            writeRaw(dir.filePath(names.at(i)), end ? signedBytes : QByteArray());
            if (end)
                ends.insert(names.at(i));
        }
    }
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    QVERIFY(::inotify_add_watch(watch, QFile::encodeName(dir.path()).constData(), IN_OPEN) >= 0);

    PlaylistRequest request;
    request.downloadsDir = dir.path();
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.sortedList.size(), 200 * 45);
    QCOMPARE(result.setIndexes.size(), 400);

    QSet<QString> opened;
    alignas(inotify_event) char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(watch, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            QVERIFY(!(event->mask & IN_Q_OVERFLOW));
            if (event->len > 0)
                opened.insert(QFile::decodeName(event->name));
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    ::close(watch);
    QCOMPARE(opened.size(), ends.size());
    QCOMPARE(opened, ends);
}

void TestPlaylist::passReportsProgressInOrder_data()
{
    QTest::addColumn<int>("containers");
    QTest::addColumn<int>("frames");
    QTest::addColumn<int>("sets");
    QTest::newRow("empty folder") << 0 << 0 << 0;
    QTest::newRow("containers") << 3 << 0 << 0;
    QTest::newRow("raw frames") << 0 << 7 << 0;
    QTest::newRow("sets") << 0 << 0 << 3;
    QTest::newRow("all three") << 2 << 5 << 2;
}

void TestPlaylist::passReportsProgressInOrder()
{
    QFETCH(int, containers);
    QFETCH(int, frames);
    QFETCH(int, sets);
    QTemporaryDir dir;
    makePassFolder(dir.path(), containers, frames, sets);
    QList<PlaylistProgress> reports;
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.progress = [&reports](const PlaylistProgress& p) {
        reports.append(p);
    };
    const PlaylistResult result = Playlist::generatePlaylist(request);

    // Listing first, then each phase from 0 to its total, one item at a time; between items the
    // phase's fraction only grows, and it ends at 1.
    QList<PlaylistProgress> expected{{Phase::Listing, 0, 0}};
    for (const auto& [phase, total] :
         {std::pair{Phase::Unpacking, containers}, std::pair{Phase::Decompressing, frames},
          std::pair{Phase::Checking, sets}})
        for (int done = 0; done <= total; ++done)
            expected.append({phase, done, total, total > 0 ? static_cast<double>(done) / total : 0.0});
    QList<PlaylistProgress> items; // the reports at which an item was done (or a phase began)
    for (qsizetype i = 0; i < reports.size(); ++i) {
        const PlaylistProgress& r = reports.at(i);
        const QString where = QStringLiteral("report %1: phase %2, %3 of %4, fraction %5")
                                  .arg(i)
                                  .arg(static_cast<int>(r.phase))
                                  .arg(r.done)
                                  .arg(r.total)
                                  .arg(r.fraction);
        if (i > 0 && reports.at(i - 1).phase == r.phase)
            QVERIFY2(r.fraction >= reports.at(i - 1).fraction, qPrintable(where));
        QVERIFY2(r.total == 0 || (r.fraction >= static_cast<double>(r.done) / r.total && r.fraction <= 1.0),
                 qPrintable(where));
        if (items.isEmpty() || items.last().phase != r.phase || items.last().done != r.done)
            items.append(r);
        else
            QVERIFY2(items.last().total == r.total, qPrintable(where));
    }
    QCOMPARE(items.size(), expected.size());
    for (qsizetype i = 0; i < items.size(); ++i) {
        const PlaylistProgress& r = items.at(i);
        QVERIFY2(r.phase == expected.at(i).phase && r.done == expected.at(i).done &&
                     r.total == expected.at(i).total &&
                     // the other frame under way counts too: the fraction is exact at the ends only
                     (r.fraction == expected.at(i).fraction || (r.done > 0 && r.done < r.total)),
                 qPrintable(QStringLiteral("item %1: phase %2, %3 of %4, fraction %5")
                                .arg(i)
                                .arg(static_cast<int>(r.phase))
                                .arg(r.done)
                                .arg(r.total)
                                .arg(r.fraction)));
    }
    if (frames > 0) // the bar moves while the first frame is under way
        QVERIFY(std::any_of(reports.cbegin(), reports.cend(), [](const PlaylistProgress& r) {
            return r.phase == Phase::Decompressing && r.done == 0 && r.fraction > 0;
        }));
    QVERIFY(!result.stopped);
    QCOMPARE(result.framesDecompressed, frames);
    QCOMPARE(result.setIndexes.size(), 2 * sets);
}

void TestPlaylist::stoppedPassLeavesWholeFiles_data()
{
    QTest::addColumn<int>("phase");     // the phase in which the stop is asked for
    QTest::addColumn<int>("afterDone"); // after this many of its items
    QTest::newRow("unpacking") << static_cast<int>(Phase::Unpacking) << 1;
    QTest::newRow("decompressing") << static_cast<int>(Phase::Decompressing) << 2;
    QTest::newRow("checking") << static_cast<int>(Phase::Checking) << 1;
}

void TestPlaylist::stoppedPassLeavesWholeFiles()
{
    QFETCH(int, phase);
    QFETCH(int, afterDone);
    constexpr int kContainers = 4;
    constexpr int kFrames = 12;
    QTemporaryDir dir;
    const PassFolder folder = makePassFolder(dir.path(), kContainers, kFrames, 2);
    auto stop = std::make_shared<std::atomic<bool>>(false);
    PlaylistProgress last;
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    request.stop = stop;
    request.progress = [&](const PlaylistProgress& p) {
        last = p;
        if (static_cast<int>(p.phase) == phase && p.done == afterDone)
            stop->store(true);
    };
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QVERIFY(result.stopped);
    QVERIFY(result.sortedList.isEmpty());
    QVERIFY(result.setIndexes.isEmpty());
    // Nothing after the phase stopped was started, and the phase itself did not run to its end.
    QCOMPARE(static_cast<int>(last.phase), phase);
    QVERIFY2(last.done < last.total, qPrintable(QStringLiteral("%1 of %2").arg(last.done).arg(last.total)));

    // Every frame is there whole: decompressed, still compressed, or both (a stopped pass does not
    // wait for the disk before it removes a `.rgb2`); no temporary file.
    const QDir root(dir.path());
    int decompressed = 0;
    for (auto it = folder.frames.cbegin(); it != folder.frames.cend(); ++it) {
        const QString rgb2 = it.key() + QLatin1Char('2');
        QVERIFY(QFile::exists(root.filePath(it.key())) || QFile::exists(root.filePath(rgb2)));
        if (QFile::exists(root.filePath(it.key()))) {
            QCOMPARE(readAll(root.filePath(it.key())), it.value());
            ++decompressed;
        }
        if (QFile::exists(root.filePath(rgb2)))
            QCOMPARE(readAll(root.filePath(rgb2)), folder.encoded.value(rgb2));
    }
    if (phase == static_cast<int>(Phase::Unpacking))
        QCOMPARE(decompressed, 0);
    else if (phase == static_cast<int>(Phase::Decompressing))
        QVERIFY2(decompressed >= afterDone && decompressed < kFrames,
                 qPrintable(QString::number(decompressed)));
    else
        QCOMPARE(decompressed, kFrames);
    // Containers stay; the unpacked photos of those done are whole.
    for (auto it = folder.containers.cbegin(); it != folder.containers.cend(); ++it)
        QCOMPARE(readAll(root.filePath(it.key())), it.value());
    int unpacked = 0;
    for (int c = 0; c < kContainers; ++c) {
        const QString photo =
            root.filePath(QStringLiteral("krox_%1_001.jpg").arg(50 + c, 3, 10, QLatin1Char('0')));
        if (QFile::exists(photo)) {
            QCOMPARE(readAll(photo), fixtures::pattern(2000 + c, static_cast<std::uint32_t>(c)));
            ++unpacked;
        }
    }
    QCOMPARE(unpacked, phase == static_cast<int>(Phase::Unpacking) ? afterDone : kContainers);
    const QStringList hidden = root.entryList(QDir::Files | QDir::Hidden).filter(QRegularExpression("^\\."));
    QVERIFY2(hidden.isEmpty(), qPrintable(hidden.join(", ")));
}

void TestPlaylist::nothingPlayableGivesCommonestReason_data()
{
    QTest::addColumn<QList<int>>("runs");      // photos per set key
    QTest::addColumn<QStringList>("versions"); // signature version per key; empty: no comment
    QTest::addColumn<QString>("reason");
    QTest::newRow("no candidates") << QList<int>{} << QStringList{}
                                   << QStringLiteral(
                                          "no photo of the chosen type is named kro_\u2026 or krox_\u2026");
    QTest::newRow("short runs") << QList<int>{9, 4, 10} << QStringList{"10.1", "10.1", "9.0"}
                                << QStringLiteral("fewer than 10 photos in a set");
    QTest::newRow("unsigned") << QList<int>{10, 12, 3} << QStringList{"", "", "10.1"}
                              << QStringLiteral("unsigned photos (no readable EXIF \"UserComment\")");
    QTest::newRow("one playable set") << QList<int>{10, 3, 3} << QStringList{"10.1", "", ""} << QString();
}

void TestPlaylist::nothingPlayableGivesCommonestReason()
{
    QFETCH(QList<int>, runs);
    QFETCH(QStringList, versions);
    QFETCH(QString, reason);
    QTemporaryDir dir;
    for (int key = 1; key <= runs.size(); ++key) {
        const QString version = versions.at(key - 1);
        writeJpegSet(dir.path(), setNames(key, runs.at(key - 1)),
                     version.isEmpty() ? QString() : fixtures::signature(version));
    }
    PlaylistRequest request;
    request.downloadsDir = dir.path();
    const PlaylistResult result = Playlist::generatePlaylist(request);
    QCOMPARE(result.rejection, reason);
    QCOMPARE(result.setIndexes.isEmpty(), !reason.isEmpty());
}

QTEST_GUILESS_MAIN(TestPlaylist)
#include "tst_Playlist.moc"
