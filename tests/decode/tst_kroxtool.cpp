#include "DecodeFixtures.h"
#include "decode/Lz4FrameEncoder.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using qr::fixtures::KroxContainer;

namespace {

struct Run {
    int exitCode = -1;
    QString out;
    QStringList errLines;
};

Run kroxtool(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(KROXTOOL_PATH), args);
    Run r;
    if (!p.waitForFinished(60'000) || p.exitStatus() != QProcess::NormalExit)
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.errLines = QString::fromUtf8(p.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return r;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

KroxContainer twoPhotos(std::uint8_t minor = 16)
{
    KroxContainer c;
    c.minor = minor;
    c.setNumber = 42;
    c.entries = {{1, QByteArray("jpeg-bytes")}, {2, QByteArray("heic")}};
    return c;
}

} // namespace

class TestKroxtool : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void unpackIntoFolder();
    void unpackBesideContainerAndReportFailures();
    void rgb2();
    void bgraPortrait();
    void helpVersionAndUsageErrors();
    void oddFilesFailAtOnce_data();
    void oddFilesFailAtOnce();
};

void TestKroxtool::unpackIntoFolder()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("a.krox"), twoPhotos().bytes()));
    QVERIFY(QDir(dir.path()).mkdir("out"));
    const Run r = kroxtool({"unpack", "-C", dir.filePath("out"), dir.filePath("a.krox")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY2(r.errLines[0].endsWith(": 2 files written"), qPrintable(r.errLines[0]));
    QCOMPARE(QDir(dir.filePath("out")).entryList(QDir::Files),
             (QStringList{"krox_042_001.jpg", "krox_042_002.heic"}));
    QCOMPARE(readFile(dir.filePath("out/krox_042_001.jpg")), QByteArray("jpeg-bytes"));
}

void TestKroxtool::unpackBesideContainerAndReportFailures()
{
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("good.krox"), twoPhotos().bytes()));
    QVERIFY(writeFile(dir.filePath("old.krox"), twoPhotos(15).bytes()));
    const Run r =
        kroxtool({"unpack", dir.filePath("good.krox"), dir.filePath("old.krox"), dir.filePath("none.krox")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.errLines.size(), 3);
    QVERIFY(r.errLines[1].contains("not unpacked: version 10.15 is below 10.16"));
    QVERIFY(r.errLines[2].contains("not unpacked: cannot read"));
    QCOMPARE(QDir(dir.path()).entryList({"krox_*"}, QDir::Files),
             (QStringList{"krox_042_001.jpg", "krox_042_002.heic"}));
}

void TestKroxtool::rgb2()
{
    QTemporaryDir dir;
    const QByteArray frame = qr::fixtures::pattern(100'000, 3);
    QVERIFY(writeFile(dir.filePath("kro_007_003_01.rgb2"), qr::Lz4FrameEncoder::encode(frame, 30'000)));
    QVERIFY(writeFile(dir.filePath("bad.rgb2"), QByteArray("not lz4")));

    Run r = kroxtool({"rgb2", dir.filePath("kro_007_003_01.rgb2"), dir.filePath("bad.rgb2")});
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.errLines.size(), 2);
    QVERIFY(r.errLines[1].contains("not decodable"));
    QCOMPARE(readFile(dir.filePath("kro_007_003_01.rgb")), frame);
    QVERIFY(QFile::exists(dir.filePath("kro_007_003_01.rgb2"))); // inputs are kept
    QVERIFY(QFile::exists(dir.filePath("bad.rgb2")));
    QVERIFY(!QFile::exists(dir.filePath("bad.rgb")));

    r = kroxtool({"rgb2", "-o", dir.filePath("named.raw"), dir.filePath("kro_007_003_01.rgb2")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(readFile(dir.filePath("named.raw")), frame);
}

void TestKroxtool::bgraPortrait()
{
    // A 3088 x 2320 frame: grey, with a red top-left and a blue bottom-left pixel.
    constexpr int w = 3088, h = 2320;
    QByteArray rgb(qsizetype{w} * h * 3, '\x40');
    rgb[0] = '\xFF', rgb[1] = 0, rgb[2] = 0;
    const qsizetype bottomLeft = qsizetype{h - 1} * w * 3;
    rgb[bottomLeft] = 0, rgb[bottomLeft + 1] = 0, rgb[bottomLeft + 2] = '\xFF';
    QTemporaryDir dir;
    QVERIFY(writeFile(dir.filePath("f.rgb"), rgb));

    Run r = kroxtool({"bgra", "--portrait", dir.filePath("f.rgb"), dir.filePath("p.png")});
    QCOMPARE(r.exitCode, 0);
    const QImage portrait(dir.filePath("p.png"));
    QCOMPARE(portrait.size(), QSize(h, w));
    QCOMPARE(portrait.pixel(0, 0), qRgb(0, 0, 255)); // the left column was the bottom row
    QCOMPARE(portrait.pixel(h - 1, 0), qRgb(255, 0, 0));
    QCOMPARE(portrait.pixel(5, 5), qRgb(0x40, 0x40, 0x40));

    r = kroxtool({"bgra", dir.filePath("f.rgb"), dir.filePath("l.png")});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(QImage(dir.filePath("l.png")).size(), QSize(w, h));

    QVERIFY(writeFile(dir.filePath("odd.rgb"), QByteArray(300, 'x')));
    r = kroxtool({"bgra", dir.filePath("odd.rgb"), dir.filePath("o.png")});
    QCOMPARE(r.exitCode, 1);
    QVERIFY(r.errLines.value(0).contains("not the size of a recognised frame"));
    QVERIFY(!QFile::exists(dir.filePath("o.png")));
}

void TestKroxtool::helpVersionAndUsageErrors()
{
    Run r = kroxtool({"--help"});
    QCOMPARE(r.exitCode, 0);
    QVERIFY(r.out.startsWith("Usage: kroxtool"));
    r = kroxtool({"--version"});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out, QStringLiteral("kroxtool " QR_VERSION "\n"));
    for (const QStringList& args :
         {QStringList{}, QStringList{"explode"}, QStringList{"unpack"}, QStringList{"unpack", "-x", "a.krox"},
          QStringList{"bgra", "one.rgb"}, QStringList{"rgb2", "-o", "x", "a.rgb2", "b.rgb2"}}) {
        r = kroxtool(args);
        QCOMPARE(r.exitCode, 2);
        QCOMPARE(r.errLines.size(), 1);
        QVERIFY(r.errLines[0].startsWith("kroxtool: "));
    }
}

// A FIFO or a device given as input is refused at once, not read until it ends (never).
void TestKroxtool::oddFilesFailAtOnce_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("message");
    QTest::newRow("unpack FIFO") << "unpack"
                                 << "fifo"
                                 << "x.krox"
                                 << "not unpacked: cannot read: a FIFO";
    QTest::newRow("unpack /dev/urandom") << "unpack"
                                         << "/dev/urandom"
                                         << "x.krox"
                                         << "not unpacked: cannot read: a device";
    QTest::newRow("rgb2 FIFO") << "rgb2"
                               << "fifo"
                               << "x.rgb2"
                               << "cannot read: a FIFO";
    QTest::newRow("rgb2 /dev/zero") << "rgb2"
                                    << "/dev/zero"
                                    << "x.rgb2"
                                    << "cannot read: a device";
    QTest::newRow("bgra /dev/zero") << "bgra"
                                    << "/dev/zero"
                                    << "x.rgb"
                                    << "cannot read: a device";
}

void TestKroxtool::oddFilesFailAtOnce()
{
    QFETCH(QString, command);
    QFETCH(QString, kind);
    QFETCH(QString, name);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(kind, path));
    QStringList args{command, path};
    if (command == "bgra")
        args << dir.filePath("out.png");
    const Run r = kroxtool(args);
    QCOMPARE(r.exitCode, 1);
    QCOMPARE(r.errLines.size(), 1);
    QVERIFY2(r.errLines[0].contains(message), qPrintable(r.errLines[0]));
    QCOMPARE(
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
        QStringList{name});
}

QTEST_GUILESS_MAIN(TestKroxtool)
#include "tst_kroxtool.moc"
