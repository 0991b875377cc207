#include "DecodeFixtures.h"
#include "decode/KroxDecoder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using qr::KroxDecoder;
using qr::fixtures::KroxContainer;
using qr::fixtures::KroxEntry;

Q_DECLARE_METATYPE(qr::fixtures::KroxContainer)

namespace {

QByteArray payload(int index, int length)
{
    QByteArray p(length, Qt::Uninitialized);
    for (int i = 0; i < length; ++i)
        p[i] = static_cast<char>(index * 16 + i % 13 + 1);
    return p;
}

KroxContainer jpegs(int count, int length = 9)
{
    KroxContainer c;
    for (int i = 0; i < count; ++i)
        c.entries.append({1, payload(i, length)});
    return c;
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString writeContainer(const QString& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return {};
    return path;
}

// Everything in `dir` except the containers, sorted.
QStringList outputs(const QString& dir)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    names.removeIf([](const QString& n) { return n.endsWith(QLatin1String("krox"), Qt::CaseInsensitive); });
    return names;
}

} // namespace

class TestKroxDecoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void unpack_data();
    void unpack();
    void handWrittenContainer();
    void versionTest_data();
    void versionTest();
    void movieEntry_data();
    void movieEntry();
    void fileUrlAndUnreadable();
    void unpackingTwiceReplacesIdentically();
    void failedWritesAreCounted();
};

// Each row: container file name and bytes, the expected output files with the index of the entry
// whose payload each must hold, and whether the container counts as valid.
void TestKroxDecoder::unpack_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<KroxContainer>("container");
    QTest::addColumn<QStringList>("expected"); // "name=entryIndex"
    QTest::addColumn<bool>("valid");

    QTest::newRow("lower-case extension")
        << "set.krox" << jpegs(2) << QStringList{"krox_001_001.jpg=0", "krox_001_002.jpg=1"} << true;
    QTest::newRow("upper-case extension ignored") << "set.KROX" << jpegs(2) << QStringList{} << false;
    QTest::newRow("no extension") << "setkrox" << jpegs(1) << QStringList{} << false;

    KroxContainer split = jpegs(0);
    split.setNumber = 300; // header bytes 3 and 5: 0x01, 0x2C around the count 2
    split.firstPhoto = 5;
    split.entries = {{1, payload(0, 4)}, {2, payload(1, 7)}};
    QTest::newRow("set number split around the count")
        << "a.krox" << split << QStringList{"krox_300_005.jpg=0", "krox_300_006.heic=1"} << true;

    KroxContainer gaps;
    gaps.setNumber = 12;
    gaps.entries = {{3, payload(0, 5)}, {4, payload(1, 6)}, {1, payload(2, 8)}};
    QTest::newRow("gaps after 5, 6, 8 bytes")
        << "g.krox" << gaps << QStringList{"krox_012_001.rgb2=0", "krox_012_002.exif=1", "krox_012_003.jpg=2"}
        << true;
    KroxContainer gap7 = gaps;
    gap7.entries = {{1, payload(0, 7)}, {1, payload(1, 1)}, {1, payload(2, 0)}, {1, payload(3, 3)}};
    QTest::newRow("gaps after 7, 1, 0, 3 bytes")
        << "g.krox" << gap7
        << QStringList{"krox_012_001.jpg=0", "krox_012_002.jpg=1", "krox_012_003.jpg=2", "krox_012_004.jpg=3"}
        << true;

    KroxContainer exif;
    exif.setNumber = 7;
    exif.entries = {{1, payload(0, 10)}, {4, payload(1, 10)}, {1, payload(2, 10)}};
    QTest::newRow("EXIF advances the counter")
        << "e.krox" << exif << QStringList{"krox_007_001.jpg=0", "krox_007_002.exif=1", "krox_007_003.jpg=2"}
        << true;

    KroxContainer unassigned;
    unassigned.entries = {
        {0, payload(0, 5)}, {1, payload(1, 6)}, {6, payload(2, 7)}, {15, payload(3, 2)}, {2, payload(4, 9)}};
    QTest::newRow("unassigned types stepped over")
        << "u.krox" << unassigned << QStringList{"krox_001_002.jpg=1", "krox_001_005.heic=4"} << true;

    KroxContainer tooLong = jpegs(3);
    tooLong.payloadLengthDelta = 1;
    QTest::newRow("payload length one byte too large") << "p.krox" << tooLong << QStringList{} << false;
    KroxContainer exact = jpegs(3);
    exact.truncateBy = 0;
    QTest::newRow("payload length exact")
        << "p.krox" << exact << QStringList{"krox_001_001.jpg=0", "krox_001_002.jpg=1", "krox_001_003.jpg=2"}
        << true;

    KroxContainer truncated = jpegs(3);
    truncated.lastEntryExtra = 4;
    QTest::newRow("last entry runs past the end")
        << "t.krox" << truncated << QStringList{"krox_001_001.jpg=0", "krox_001_002.jpg=1"} << false;
    KroxContainer middle = jpegs(4);
    middle.entries[1].payload = payload(1, 40);
    middle.truncateBy = 40; // the file now ends inside entry 1's payload region after entry 2 and 3 move
    middle.payloadLengthDelta = -40;
    QTest::newRow("stops at the first entry past the end")
        << "m.krox" << middle << QStringList{"krox_001_001.jpg=0"} << false;

    QStringList first76;
    for (int i = 0; i < 76; ++i)
        first76 << QStringLiteral("krox_001_%1.jpg=%2").arg(i + 1, 3, 10, QLatin1Char('0')).arg(i);
    QTest::newRow("80 entries keep 76") << "80.krox" << jpegs(80, 3) << first76 << true;

    KroxContainer counter = jpegs(3);
    counter.firstPhoto = 254;
    QTest::newRow("counter passes 255")
        << "c.krox" << counter
        << QStringList{"krox_001_254.jpg=0", "krox_001_255.jpg=1", "krox_001_256.jpg=2"} << true;

    QTest::newRow("no entries") << "z.krox" << jpegs(0) << QStringList{} << false;
    KroxContainer shortHeader = jpegs(1);
    shortHeader.truncateBy = shortHeader.bytes().size() - 11;
    QTest::newRow("shorter than the header") << "s.krox" << shortHeader << QStringList{} << false;

    // A payload length of 2^31 or more wraps negative in the size check and passes it.
    KroxContainer wrap = jpegs(2);
    wrap.payloadLengthDelta = 0x80000000LL;
    QTest::newRow("payload length wraps negative")
        << "w.krox" << wrap << QStringList{"krox_001_001.jpg=0", "krox_001_002.jpg=1"} << true;
    // ... but the table itself must still lie inside the file.
    KroxContainer table = jpegs(3);
    table.payloadLengthDelta = 0xF0000000LL;
    table.truncateBy = table.bytes().size() - 14;
    QTest::newRow("table past the end") << "t.krox" << table << QStringList{} << false;
}

void TestKroxDecoder::unpack()
{
    QFETCH(QString, fileName);
    QFETCH(KroxContainer, container);
    QFETCH(QStringList, expected);
    QFETCH(bool, valid);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeContainer(dir.path(), fileName, container.bytes());
    QVERIFY(!path.isEmpty());
    KroxDecoder decoder(dir.filePath(QStringLiteral("docs")));
    const qr::KroxResult result = decoder.processKroxFile(path, dir.path());

    QCOMPARE(result.valid, valid);
    QCOMPARE(result.reason.isEmpty(), valid);
    QCOMPARE(result.failedWrites, 0);
    QStringList names;
    for (const QString& e : expected)
        names << e.section(QLatin1Char('='), 0, 0);
    names.sort();
    QCOMPARE(outputs(dir.path()), names);
    QCOMPARE(result.filesWritten(), expected.size());
    for (const QString& e : expected) {
        const int index = e.section(QLatin1Char('='), 1).toInt();
        QCOMPARE(readAll(dir.filePath(e.section(QLatin1Char('='), 0, 0))),
                 container.entries.at(index).payload);
    }
    QCOMPARE(readAll(path), container.bytes()); // the container is left as it was
}

// A container written byte by byte, not by KroxWriter, so a layout mistake shared by the writer and
// the reader cannot pass: set 300 (bytes 3 and 5 around the count), three entries of 5, 6 and 8
// bytes, each payload followed by a gap of its length mod 4 (filled with 0xEE).
void TestKroxDecoder::handWrittenContainer()
{
    const QByteArray bytes = QByteArray::fromHex("0A10"     // version 10.16
                                                 "00"       // reserved
                                                 "01032C05" // set high, count, set low, first photo
                                                 "00"       // reserved
                                                 "00000016" // 22 payload bytes after the table
                                                 "10000005" // JPEG, 5 bytes
                                                 "40000006" // EXIF, 6 bytes
                                                 "20000008" // HEIC, 8 bytes
                                                 "6162636465"
                                                 "EE"
                                                 "666768696A6B"
                                                 "EEEE"
                                                 "6C6D6E6F70717273");
    QCOMPARE(bytes.size(), 46);
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
    const qr::KroxLayout layout = KroxDecoder::parse(QStringLiteral("hand.krox"), {data, std::size_t(46)});
    QVERIFY(layout.valid);
    QCOMPARE(layout.payloads.size(), std::size_t(3));
    const struct {
        const char* name;
        int type;
        std::int64_t offset, length;
        QByteArray content;
    } expected[] = {{"krox_300_005.jpg", 1, 24, 5, "abcde"},
                    {"krox_300_006.exif", 4, 30, 6, "fghijk"},
                    {"krox_300_007.heic", 2, 38, 8, "lmnopqrs"}};
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = writeContainer(dir.path(), QStringLiteral("hand.krox"), bytes);
    KroxDecoder decoder(dir.filePath(QStringLiteral("docs")));
    const qr::KroxResult result = decoder.processKroxFile(path, dir.path());
    QVERIFY(result.ok());
    for (std::size_t i = 0; i < 3; ++i) {
        const qr::KroxPayload& p = layout.payloads[i];
        QCOMPARE(p.fileName, QString::fromLatin1(expected[i].name));
        QCOMPARE(p.type, expected[i].type);
        QCOMPARE(p.offset, expected[i].offset);
        QCOMPARE(p.length, expected[i].length);
        QCOMPARE(readAll(dir.filePath(p.fileName)), expected[i].content);
    }
    QCOMPARE(outputs(dir.path()),
             (QStringList{"krox_300_005.jpg", "krox_300_006.exif", "krox_300_007.heic"}));
}

void TestKroxDecoder::versionTest_data()
{
    QTest::addColumn<int>("major");
    QTest::addColumn<int>("minor");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("10.16") << 10 << 16 << true;
    QTest::newRow("10.20") << 10 << 20 << true;
    QTest::newRow("10.2 reads as 10.2") << 10 << 2 << true;
    QTest::newRow("11.0") << 11 << 0 << true;
    QTest::newRow("255.255") << 255 << 255 << true;
    QTest::newRow("10.15") << 10 << 15 << false;
    QTest::newRow("9.99") << 9 << 99 << false;
    QTest::newRow("10.100 reads as 10.1") << 10 << 100 << false;
    QTest::newRow("10.160 reads as 10.16") << 10 << 160 << true;
    QTest::newRow("0.0") << 0 << 0 << false;
}

void TestKroxDecoder::versionTest()
{
    QFETCH(int, major);
    QFETCH(int, minor);
    QFETCH(bool, accepted);
    QCOMPARE(KroxDecoder::versionAccepted(static_cast<std::uint8_t>(major), static_cast<std::uint8_t>(minor)),
             accepted);

    KroxContainer c = jpegs(1);
    c.major = static_cast<std::uint8_t>(major);
    c.minor = static_cast<std::uint8_t>(minor);
    QTemporaryDir dir;
    const QString path = writeContainer(dir.path(), QStringLiteral("v.krox"), c.bytes());
    const qr::KroxResult result = KroxDecoder(dir.path()).processKroxFile(path, dir.path());
    QCOMPARE(result.valid, accepted);
    QCOMPARE(outputs(dir.path()).size(), accepted ? 1 : 0);
}

void TestKroxDecoder::movieEntry_data()
{
    QTest::addColumn<KroxContainer>("container");
    QTest::addColumn<QStringList>("photos");
    QTest::addColumn<QString>("moviePrefix");

    KroxContainer last;
    last.setNumber = 7;
    last.entries = {{1, payload(0, 8)},
                    {1, payload(1, 8)},
                    {5, QByteArray("\0\0\0\x14"
                                   "ftypqt  movie",
                                   17)}};
    QTest::newRow("movie last keeps the counter")
        << last << QStringList{"krox_007_001.jpg", "krox_007_002.jpg"} << "krox_007_002-";
    KroxContainer middle = last;
    middle.entries.swapItemsAt(1, 2);
    QTest::newRow("movie in the middle advances it")
        << middle << QStringList{"krox_007_001.jpg", "krox_007_003.jpg"} << "krox_007_002-";
}

void TestKroxDecoder::movieEntry()
{
    QFETCH(KroxContainer, container);
    QFETCH(QStringList, photos);
    QFETCH(QString, moviePrefix);

    QTemporaryDir dir;
    const QString docs = dir.filePath(QStringLiteral("Documents"));
    const QString path = writeContainer(dir.path(), QStringLiteral("m.krox"), container.bytes());
    KroxDecoder decoder(docs);
    QVERIFY(decoder.processKroxFile(path, dir.path()).ok());
    QCOMPARE(outputs(dir.path()), photos);
    const QStringList movies = QDir(docs + QStringLiteral("/Movies")).entryList(QDir::Files);
    QCOMPARE(movies.size(), 1);
    QVERIFY2(movies.first().startsWith(moviePrefix) && movies.first().endsWith(QLatin1String(".mov")),
             qPrintable(movies.first()));
    QCOMPARE(readAll(docs + QStringLiteral("/Movies/") + movies.first()), QByteArray("\0\0\0\x14"
                                                                                     "ftypqt  movie",
                                                                                     17));

    // Another container's movie with the same set and photo numbers gets a different name.
    KroxContainer other = container;
    for (KroxEntry& e : other.entries)
        if (e.type == 5)
            e.payload = QByteArray("\0\0\0\x14"
                                   "ftypisomother",
                                   17);
    const QString otherPath = writeContainer(dir.path(), QStringLiteral("n.krox"), other.bytes());
    QVERIFY(decoder.processKroxFile(otherPath, dir.path()).ok());
    QCOMPARE(QDir(docs + QStringLiteral("/Movies")).entryList(QDir::Files).size(), 2);
}

void TestKroxDecoder::fileUrlAndUnreadable()
{
    QTemporaryDir dir;
    const QString path = writeContainer(dir.path(), QStringLiteral("set 1.krox"), jpegs(1).bytes());
    KroxDecoder decoder(dir.path());
    QCOMPARE(decoder.processKroxFile(QUrl::fromLocalFile(path).toString(), dir.path()).filesWritten(), 1);
    const qr::KroxResult missing =
        decoder.processKroxFile(dir.filePath(QStringLiteral("absent.krox")), dir.path());
    QVERIFY(!missing.valid);
    QVERIFY(missing.reason.startsWith(QLatin1String("cannot read")));
}

void TestKroxDecoder::unpackingTwiceReplacesIdentically()
{
    QTemporaryDir dir;
    KroxContainer c = jpegs(5, 1001);
    const QString path = writeContainer(dir.path(), QStringLiteral("twice.krox"), c.bytes());
    KroxDecoder decoder(dir.path());
    QVERIFY(decoder.processKroxFile(path, dir.path()).ok());
    const QStringList first = outputs(dir.path());
    QByteArray before;
    for (const QString& n : first)
        before += readAll(dir.filePath(n));
    QVERIFY(decoder.processKroxFile(path, dir.path()).ok());
    QCOMPARE(outputs(dir.path()), first); // no temporary files left behind
    QByteArray after;
    for (const QString& n : first)
        after += readAll(dir.filePath(n));
    QCOMPARE(after, before);
}

void TestKroxDecoder::failedWritesAreCounted()
{
    QTemporaryDir dir;
    const QString path = writeContainer(dir.path(), QStringLiteral("w.krox"), jpegs(3).bytes());
    const qr::KroxResult result =
        KroxDecoder(dir.path()).processKroxFile(path, dir.filePath(QStringLiteral("missing")));
    QVERIFY(result.valid);
    QVERIFY(!result.ok());
    QCOMPARE(result.failedWrites, 3);
    QCOMPARE(result.filesWritten(), 0);
}

QTEST_GUILESS_MAIN(TestKroxDecoder)
#include "tst_kroxdecoder.moc"
