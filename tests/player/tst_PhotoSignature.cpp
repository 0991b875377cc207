#include "player/PhotoSignature.h"

#include "PlayerFixtures.h"

#include <QTemporaryDir>
#include <QTest>

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

QTEST_GUILESS_MAIN(TestPhotoSignature)
#include "tst_PhotoSignature.moc"
