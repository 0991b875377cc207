#include "player/PhotoSignature.h"

#include "PlayerFixtures.h"

#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qr;

class TestPhotoSignature : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void commentPasses_data();
    void commentPasses();
    void leadingNumber_data();
    void leadingNumber();
    void photoFiles_data();
    void photoFiles();
    void fifoInPhotosPlaceNeverBlocks_data();
    void fifoInPhotosPlaceNeverBlocks();
};

void TestPhotoSignature::commentPasses_data()
{
    QTest::addColumn<QString>("comment");
    QTest::addColumn<bool>("passes");
    QTest::newRow("14 fields, 9.58") << fixtures::signature("9.58", 14) << true;
    QTest::newRow("13 fields") << fixtures::signature("9.58", 13) << false;
    QTest::newRow("20 fields") << fixtures::signature("9.58", 20) << true;
    QTest::newRow("9.57") << fixtures::signature("9.57") << false;
    QTest::newRow("10.1") << fixtures::signature("10.1") << true;
    QTest::newRow("leading spaces, trailing text") << fixtures::signature("  9.6beta") << true;
    QTest::newRow("no number reads as 0") << fixtures::signature("v10") << false;
    QTest::newRow("first field lower case") << fixtures::signature("10", 14, "quintaray") << false;
    QTest::newRow("first field with a space") << fixtures::signature("10", 14, "Quintaray ") << false;
    QTest::newRow("one field") << QStringLiteral("Quintaray") << false;
    QTest::newRow("empty") << QString() << false;
}

void TestPhotoSignature::commentPasses()
{
    QFETCH(QString, comment);
    QFETCH(bool, passes);
    QCOMPARE(PhotoSignature::commentPasses(comment), passes);
}

void TestPhotoSignature::leadingNumber_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<float>("value");
    QTest::newRow("plain") << "9.58" << 9.58f;
    QTest::newRow("spaces and tail") << "  10.25x" << 10.25f;
    QTest::newRow("sign") << "-3.5" << -3.5f;
    QTest::newRow("plus sign") << "+2" << 2.0f;
    QTest::newRow("exponent") << "1e1" << 10.0f;
    QTest::newRow("dangling exponent") << "12e" << 12.0f;
    QTest::newRow("point only") << "." << 0.0f;
    QTest::newRow("leading point") << ".5" << 0.5f;
    QTest::newRow("letters") << "abc" << 0.0f;
    QTest::newRow("empty") << "" << 0.0f;
}

void TestPhotoSignature::leadingNumber()
{
    QFETCH(QString, field);
    QFETCH(float, value);
    QCOMPARE(PhotoSignature::leadingNumber(field), value);
}

void TestPhotoSignature::photoFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("comment"); // null: no comment written
    QTest::addColumn<bool>("passes");
    QTest::newRow("jpeg signed") << "a.jpg" << fixtures::signature("9.58") << true;
    QTest::newRow("jpeg 9.57") << "a.jpg" << fixtures::signature("9.57") << false;
    QTest::newRow("jpeg 13 fields") << "a.jpg" << fixtures::signature("10.1", 13) << false;
    QTest::newRow("jpeg without comment") << "a.jpg" << QString() << false;
    QTest::newRow("heic signed") << "a.heic" << fixtures::signature("10.1") << true;
    QTest::newRow("heic 9.57") << "a.heic" << fixtures::signature("9.57") << false;
    QTest::newRow("heic without exif") << "a.heic" << QString() << false;
}

void TestPhotoSignature::photoFiles()
{
    QFETCH(QString, name);
    QFETCH(QString, comment);
    QFETCH(bool, passes);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name.endsWith(QLatin1String(".heic"))) {
        if (!fixtures::heicEncoderAvailable())
            QSKIP("libheif has no HEVC encoder here");
        QVERIFY(fixtures::makeHeic(path, comment));
    } else {
        QVERIFY(fixtures::makeJpeg(path, comment));
    }
    if (!comment.isNull())
        QCOMPARE(PhotoSignature::userComment(path).value_or(QString()), comment);
    QCOMPARE(PhotoSignature::photoPasses(path), passes);
}

void TestPhotoSignature::fifoInPhotosPlaceNeverBlocks_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("jpeg") << "a.jpg";
    QTest::newRow("heic") << "a.heic";
}

// The comment is read from what was opened: a FIFO in the photo's place is refused, not waited on.
void TestPhotoSignature::fifoInPhotosPlaceNeverBlocks()
{
    QFETCH(QString, name);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    QFuture<bool> nothing = QtConcurrent::run([&] { return !PhotoSignature::userComment(path).has_value(); });
    const bool returned = QTest::qWaitFor([&] { return nothing.isFinished(); }, 5000);
    // A reader blocked in the FIFO's open is let go by a writer that comes and goes.
    for (int i = 0; i < 200 && !nothing.isFinished(); ++i) {
        const int fd = ::open(native.constData(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        QTest::qWait(20);
    }
    QVERIFY2(returned, "blocked on the FIFO");
    QVERIFY(nothing.result());
}

QTEST_GUILESS_MAIN(TestPhotoSignature)
#include "tst_PhotoSignature.moc"
