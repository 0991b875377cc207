#include "player/PhotoDecoder.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <exiv2/exiv2.hpp>

#include <cstdlib>

using qr::PhotoDecoder;

namespace {

// Four flat quadrants (red, green, blue, white from the top left, clockwise), so that a wrong turn or
// mirror changes whole quadrants, while the scaled decoders' rounding changes only a few levels.
QImage quadrants(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width();
    const int h = size.height();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.setPixel(x, y,
                           y < h / 2 ? (x < w / 2 ? qRgb(220, 30, 30) : qRgb(30, 200, 40))
                                     : (x < w / 2 ? qRgb(240, 240, 240) : qRgb(30, 40, 210)));
    return image;
}

bool writeJpeg(const QString& path, QSize size, int orientation)
{
    if (!quadrants(size).save(path, "JPG", 95))
        return false;
    if (orientation == 0)
        return true;
    try {
        auto image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = std::uint16_t(orientation);
        image->setExifData(exif);
        image->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

// The largest difference of any channel between the two images, sampled at the centres of a grid of
// cells away from the quadrant edges.
int sampledDifference(const QImage& a, const QImage& b)
{
    int worst = 0;
    for (int cy = 0; cy < 8; ++cy) {
        for (int cx = 0; cx < 8; ++cx) {
            const int ax = (2 * cx + 1) * a.width() / 16;
            const int ay = (2 * cy + 1) * a.height() / 16;
            const int bx = (2 * cx + 1) * b.width() / 16;
            const int by = (2 * cy + 1) * b.height() / 16;
            const QRgb p = a.pixel(ax, ay);
            const QRgb q = b.pixel(bx, by);
            worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                              std::abs(qBlue(p) - qBlue(q))});
        }
    }
    return worst;
}

} // namespace

class TestPhotoDecoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void jpegMatchesQtReader_data();
    void jpegMatchesQtReader();
    void brokenJpegGivesNothing_data();
    void brokenJpegGivesNothing();
};

void TestPhotoDecoder::jpegMatchesQtReader_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("box");
    const QList<QPair<const char*, QSize>> boxes = {{"whole", QSize()},
                                                    {"large box", QSize(4000, 4000)},
                                                    {"half", QSize(160, 160)},
                                                    {"eighth", QSize(40, 30)},
                                                    {"odd", QSize(77, 51)}};
    for (int orientation = 0; orientation <= 8; ++orientation)
        for (const auto& [name, box] : boxes)
            QTest::addRow("orientation %d, %s", orientation, name) << orientation << box;
}

void TestPhotoDecoder::jpegMatchesQtReader()
{
    QFETCH(int, orientation);
    QFETCH(QSize, box);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(writeJpeg(path, QSize(320, 240), orientation));

    const QImage direct = PhotoDecoder::decodeJpegDirect(path, box);
    const QImage qt = PhotoDecoder::decodeJpegWithQt(path, box);
    QVERIFY(!direct.isNull());
    QVERIFY(!qt.isNull());
    QCOMPARE(direct.format(), QImage::Format_RGB32);
    QCOMPARE(direct.size(), qt.size());
    const QSize upright = orientation >= 5 ? QSize(240, 320) : QSize(320, 240);
    QCOMPARE(direct.size(), PhotoDecoder::fittedSize(upright, box));
    QCOMPARE(PhotoDecoder::naturalSize(path), upright);
    QVERIFY2(sampledDifference(direct, qt) <= 12, qPrintable(QString::number(sampledDifference(direct, qt))));
    QCOMPARE(PhotoDecoder::decode(path, box).size(), direct.size());
}

void TestPhotoDecoder::brokenJpegGivesNothing_data()
{
    QTest::addColumn<int>("keep");
    QTest::addColumn<bool>("garbageExif");
    QTest::newRow("empty") << 0 << false;
    QTest::newRow("start marker only") << 2 << false;
    QTest::newRow("header cut") << 120 << false;
    QTest::newRow("EXIF pointing past its block") << -1 << true;
}

void TestPhotoDecoder::brokenJpegGivesNothing()
{
    QFETCH(int, keep);
    QFETCH(bool, garbageExif);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(writeJpeg(path, QSize(64, 48), 6));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    if (garbageExif) {
        // The IFD offset of the EXIF block made huge: the orientation is then unknown, not read
        // from outside the block.
        const qsizetype tiff = bytes.indexOf("Exif\0\0", 0) + 6;
        QVERIFY(tiff > 6);
        bytes[tiff + 4] = bytes[tiff + 5] = bytes[tiff + 6] = bytes[tiff + 7] = char(0x7F);
    } else {
        bytes.truncate(keep);
    }
    QVERIFY(f.resize(0));
    QVERIFY(f.seek(0));
    f.write(bytes);
    f.close();
    const QImage image = PhotoDecoder::decode(path, QSize(32, 32));
    if (garbageExif)
        QCOMPARE(image.size(), QSize(32, 24)); // decoded, not turned
    else
        QVERIFY(image.isNull());
    QVERIFY(PhotoDecoder::decodeJpegDirect(path, {}).isNull() == !garbageExif);
}

QTEST_GUILESS_MAIN(TestPhotoDecoder)
#include "tst_PhotoDecoder.moc"
