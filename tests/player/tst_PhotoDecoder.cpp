#include "HeicGridFixture.h"
#include "platform/RegularFile.h"
#include "player/HevcTileDecoder.h"
#include "player/PhotoDecoder.h"

#include <QFile>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QTest>
#include <QtConcurrent>

#include <exiv2/exiv2.hpp>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

using qr::PhotoDecoder;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QR_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define QR_SANITIZED 1
#endif
#endif

// The heap in use while a meter runs, and its peak: every malloc of the process goes through here,
// so a decode that allocates more than its budget shows even when the allocation fails or is freed.
namespace meter {
std::atomic<bool> on{false};
std::atomic<std::int64_t> inUse{0};
std::atomic<std::int64_t> peak{0};

void add(void* p)
{
    if (!p || !on.load(std::memory_order_relaxed))
        return;
    const std::int64_t now =
        inUse.fetch_add(std::int64_t(malloc_usable_size(p))) + std::int64_t(malloc_usable_size(p));
    std::int64_t seen = peak.load();
    while (now > seen && !peak.compare_exchange_weak(seen, now)) {
    }
}

void remove(void* p)
{
    if (p && on.load(std::memory_order_relaxed))
        inUse.fetch_sub(std::int64_t(malloc_usable_size(p)));
}
} // namespace meter

#ifndef QR_SANITIZED
extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);
void __libc_free(void*);

void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    meter::add(p);
    return p;
}
void* calloc(size_t n, size_t size)
{
    void* p = __libc_calloc(n, size);
    meter::add(p);
    return p;
}
void* realloc(void* old, size_t n)
{
    meter::remove(old);
    void* p = __libc_realloc(old, n);
    meter::add(p ? p : (n == 0 ? nullptr : old));
    return p;
}
void free(void* p)
{
    meter::remove(p);
    __libc_free(p);
}
}
#endif

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

heif_image* flatHeifImage(QSize size, QRgb colour)
{
    heif_image* image = nullptr;
    if (heif_image_create(size.width(), size.height(), heif_colorspace_RGB, heif_chroma_interleaved_RGB,
                          &image)
            .code != heif_error_Ok)
        return nullptr;
    heif_image_add_plane(image, heif_channel_interleaved, size.width(), size.height(), 8);
    int stride = 0;
    std::uint8_t* plane = heif_image_get_plane(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            std::uint8_t* p = plane + y * stride + x * 3;
            p[0] = std::uint8_t(qRed(colour));
            p[1] = std::uint8_t(qGreen(colour));
            p[2] = std::uint8_t(qBlue(colour));
        }
    }
    return image;
}

// A flat HEIC photo with, when `thumbnailSide` > 0, an embedded thumbnail of another colour that
// fits a square of that side: which of the two a decoder used shows in its colour.
bool writeHeic(const QString& path, QSize size, QRgb colour, int thumbnailSide, QRgb thumbnailColour)
{
    std::unique_ptr<heif_context, void (*)(heif_context*)> ctx(heif_context_alloc(), heif_context_free);
    heif_encoder* rawEncoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx.get(), heif_compression_HEVC, &rawEncoder).code !=
        heif_error_Ok)
        return false;
    std::unique_ptr<heif_encoder, void (*)(heif_encoder*)> encoder(rawEncoder, heif_encoder_release);
    heif_encoder_set_lossy_quality(encoder.get(), 80);
    std::unique_ptr<heif_image, void (*)(const heif_image*)> image(flatHeifImage(size, colour),
                                                                   heif_image_release);
    heif_image_handle* handle = nullptr;
    if (!image || heif_context_encode_image(ctx.get(), image.get(), encoder.get(), nullptr, &handle).code !=
                      heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, void (*)(const heif_image_handle*)> main(handle,
                                                                                heif_image_handle_release);
    if (thumbnailSide > 0) {
        std::unique_ptr<heif_image, void (*)(const heif_image*)> other(flatHeifImage(size, thumbnailColour),
                                                                       heif_image_release);
        heif_image_handle* thumb = nullptr;
        if (!other || heif_context_encode_thumbnail(ctx.get(), other.get(), main.get(), encoder.get(),
                                                    nullptr, thumbnailSide, &thumb)
                              .code != heif_error_Ok)
            return false;
        heif_image_handle_release(thumb);
    }
    return heif_context_write_to_file(ctx.get(), QFile::encodeName(path).constData()).code == heif_error_Ok;
}

// The peak of the heap while `work` runs. The address space is capped meanwhile a few GiB above what
// is in use, so that a decoder without a budget fails instead of taking the machine's memory.
std::int64_t peakHeapDuring(const std::function<void()>& work)
{
    rlimit before{};
    getrlimit(RLIMIT_AS, &before);
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    rlimit capped = before;
    capped.rlim_cur =
        std::min<rlim_t>(before.rlim_max, rlim_t(pages) * rlim_t(sysconf(_SC_PAGESIZE)) + (rlim_t{3} << 30));
    setrlimit(RLIMIT_AS, &capped);
    meter::inUse = 0;
    meter::peak = 0;
    meter::on = true;
    work();
    meter::on = false;
    setrlimit(RLIMIT_AS, &before);
    return meter::peak;
}

// A JPEG of `size` with a small picture whose frame header is then made to declare `declared`.
bool writeJpegDeclaring(const QString& path, QSize size, QSize declared, bool progressive)
{
    {
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        writer.setProgressiveScanWrite(progressive);
        if (!writer.write(quadrants(size)))
            return false;
    }
    if (declared == size)
        return true;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    const qsizetype frame = bytes.indexOf(progressive ? "\xFF\xC2" : "\xFF\xC0");
    if (frame < 0)
        return false;
    bytes[frame + 5] = char(declared.height() >> 8);
    bytes[frame + 6] = char(declared.height());
    bytes[frame + 7] = char(declared.width() >> 8);
    bytes[frame + 8] = char(declared.width());
    return f.seek(0) && f.write(bytes) == bytes.size();
}

// A grid HEIC of six small tiles whose grid then declares `declared` as the photo's size, in its
// image size property and in its grid description.
bool writeHeicGridDeclaring(const QString& path, QSize declared)
{
    const QSize size(150, 100);
    QImage image(size, QImage::Format_RGB32);
    image.fill(qRgb(90, 120, 200));
    if (!qr::fixtures::makeHeicGrid(path, image, 64))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = f.readAll();
    const QByteArray ispe("ispe\0\0\0\0\0\0\0\x96\0\0\0\x64", 16);
    const QByteArray grid("\0\0\x01\x02\0\x96\0\x64", 8);
    const qsizetype at = bytes.indexOf(ispe);
    const qsizetype gridAt = bytes.indexOf(grid);
    if (at < 0 || gridAt < 0)
        return false;
    for (int i = 0; i < 4; ++i) {
        bytes[at + 8 + i] = char(std::uint32_t(declared.width()) >> (24 - 8 * i));
        bytes[at + 12 + i] = char(std::uint32_t(declared.height()) >> (24 - 8 * i));
    }
    bytes[gridAt + 4] = char(declared.width() >> 8);
    bytes[gridAt + 5] = char(declared.width());
    bytes[gridAt + 6] = char(declared.height() >> 8);
    bytes[gridAt + 7] = char(declared.height());
    return f.seek(0) && f.write(bytes) == bytes.size();
}

bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 12 && std::abs(qGreen(a) - qGreen(b)) <= 12 &&
           std::abs(qBlue(a) - qBlue(b)) <= 12;
}

} // namespace

class TestPhotoDecoder : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void jpegMatchesQtReader_data();
    void jpegMatchesQtReader();
    void brokenJpegGivesNothing_data();
    void brokenJpegGivesNothing();
    void decodesKeepTheirPixels_data();
    void decodesKeepTheirPixels();
    void displayCopyTakesADecoderScaleWithinSlack_data();
    void displayCopyTakesADecoderScaleWithinSlack();
    void coveringBox_data();
    void coveringBox();
    void heicPreviewUsesThumbnailThatCovers_data();
    void heicPreviewUsesThumbnailThatCovers();
    void heicGridDecodesOnAnyThreadCount_data();
    void heicGridDecodesOnAnyThreadCount();
    void hevcDecodersAgree_data();
    void hevcDecodersAgree();
    void hevcFramingIsChecked_data();
    void hevcFramingIsChecked();
    void decodeStaysWithinMemoryBudget_data();
    void decodeStaysWithinMemoryBudget();
    void fileChangedWhileDecodingIsSkipped_data();
    void fileChangedWhileDecodingIsSkipped();
    void fileRewrittenDuringDecodesNeverFaults();
    void fifoInPhotosPlaceNeverBlocks_data();
    void fifoInPhotosPlaceNeverBlocks();
};

void TestPhotoDecoder::jpegMatchesQtReader_data()
{
    QTest::addColumn<int>("orientation");
    QTest::addColumn<QSize>("box");
    const QList<QPair<const char*, QSize>> boxes = {{"whole", QSize()},
                                                    {"large box", QSize(4000, 4000)},
                                                    {"half", QSize(160, 160)},
                                                    {"five eighths", QSize(200, 200)},
                                                    {"just over a half", QSize(170, 170)},
                                                    {"seven eighths", QSize(280, 280)},
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
    QSize natural;
    QCOMPARE(PhotoDecoder::decode(path, box, &natural).size(), direct.size());
    QCOMPARE(natural, upright);
}

void TestPhotoDecoder::decodesKeepTheirPixels_data()
{
    QTest::addColumn<QSize>("box");
    QTest::newRow("scaled down after the decode") << QSize(100, 100);
    QTest::newRow("the decoder's own scale") << QSize(160, 120);
    QTest::newRow("whole") << QSize();
}

// Decodes on one thread one after another: each result keeps its own pixels, whatever the next
// decode writes.
void TestPhotoDecoder::decodesKeepTheirPixels()
{
    QFETCH(QSize, box);
    QTemporaryDir dir;
    QImage red(320, 240, QImage::Format_RGB32), blue(320, 240, QImage::Format_RGB32);
    red.fill(qRgb(220, 30, 30));
    blue.fill(qRgb(30, 30, 220));
    QVERIFY(red.save(dir.filePath("red.jpg"), "JPG", 95));
    QVERIFY(blue.save(dir.filePath("blue.jpg"), "JPG", 95));
    const QImage first = PhotoDecoder::decode(dir.filePath("red.jpg"), box);
    const QImage second = PhotoDecoder::decode(dir.filePath("blue.jpg"), box);
    const QImage third = PhotoDecoder::decode(dir.filePath("red.jpg"), box);
    QVERIFY(!first.isNull() && !second.isNull() && !third.isNull());
    QVERIFY(near(first.pixel(10, 10), qRgb(220, 30, 30)));
    QVERIFY(near(second.pixel(10, 10), qRgb(30, 30, 220)));
    QVERIFY(near(third.pixel(10, 10), qRgb(220, 30, 30)));
}

void TestPhotoDecoder::displayCopyTakesADecoderScaleWithinSlack_data()
{
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("displayCopy");
    // 320 x 240: the decoder's half is 160 x 120, its five eighths 200 x 150.
    QTest::newRow("3 % over the half: the half as it comes") << QSize(165, 165) << QSize(160, 120);
    QTest::newRow("the half itself") << QSize(160, 160) << QSize(160, 120);
    QTest::newRow("6 % over the half: five eighths, scaled down") << QSize(170, 170) << QSize(170, 127);
    QTest::newRow("whole") << QSize() << QSize(320, 240);
}

// A main-display copy whose view is only just larger than one of the decoder's scales takes that
// scale's output as it is; decode() and the side previews keep the exact fitted size.
void TestPhotoDecoder::displayCopyTakesADecoderScaleWithinSlack()
{
    QFETCH(QSize, box);
    QFETCH(QSize, displayCopy);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    QVERIFY(writeJpeg(path, QSize(320, 240), 1));
    QSize natural;
    QCOMPARE(PhotoDecoder::decodeDisplayCopy(path, box, &natural).size(), displayCopy);
    QCOMPARE(natural, QSize(320, 240));
    QCOMPARE(PhotoDecoder::decode(path, box).size(), PhotoDecoder::fittedSize(QSize(320, 240), box));
}

void TestPhotoDecoder::coveringBox_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<QSize>("covering");
    QTest::newRow("portrait into a wide panel: full width")
        << QSize(3024, 4032) << QSize(364, 345) << QSize(364, 486);
    QTest::newRow("landscape into a tall panel: full height")
        << QSize(4032, 3024) << QSize(300, 400) << QSize(534, 400);
    QTest::newRow("never larger than the photo") << QSize(300, 400) << QSize(600, 300) << QSize(300, 400);
    QTest::newRow("no box") << QSize(300, 400) << QSize() << QSize();
}

// A side preview is decoded to cover its panel, then cropped to fill it, so it is never enlarged.
void TestPhotoDecoder::coveringBox()
{
    QFETCH(QSize, size);
    QFETCH(QSize, box);
    QFETCH(QSize, covering);
    QCOMPARE(PhotoDecoder::coveringBox(size, box), covering);
    if (covering.isValid() && covering != size) {
        const QSize fitted = PhotoDecoder::fittedSize(size, covering);
        QVERIFY(fitted.width() >= box.width() - 1 && fitted.height() >= box.height() - 1);
    }
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

void TestPhotoDecoder::heicPreviewUsesThumbnailThatCovers_data()
{
    QTest::addColumn<int>("thumbnailSide");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<bool>("fromThumbnail");
    QTest::addColumn<QSize>("expectedSize");
    QTest::newRow("thumbnail covers the box") << 128 << QSize(64, 64) << true << QSize(64, 48);
    QTest::newRow("thumbnail exactly the fitted size") << 128 << QSize(128, 128) << true << QSize(128, 96);
    QTest::newRow("thumbnail smaller than the box") << 128 << QSize(200, 200) << false << QSize(200, 150);
    QTest::newRow("no thumbnail") << 0 << QSize(64, 64) << false << QSize(64, 48);
}

void TestPhotoDecoder::heicPreviewUsesThumbnailThatCovers()
{
    QFETCH(int, thumbnailSide);
    QFETCH(QSize, box);
    QFETCH(bool, fromThumbnail);
    QFETCH(QSize, expectedSize);
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        QSKIP("no HEVC encoder");
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.heic"));
    const QRgb photo = qRgb(200, 40, 40);
    const QRgb thumbnail = qRgb(40, 60, 200);
    QVERIFY(writeHeic(path, QSize(256, 192), photo, thumbnailSide, thumbnail));

    const QImage preview = PhotoDecoder::decodePreview(path, box);
    QCOMPARE(preview.size(), expectedSize);
    const QRgb centre = preview.pixel(preview.width() / 2, preview.height() / 2);
    QVERIFY2(near(centre, fromThumbnail ? thumbnail : photo), qPrintable(QString::number(centre, 16)));
    // The display copy itself never comes from the thumbnail.
    QVERIFY(near(PhotoDecoder::decode(path, box).pixel(1, 1), photo));
}

void TestPhotoDecoder::heicGridDecodesOnAnyThreadCount_data()
{
    QTest::addColumn<int>("threads");
    QTest::newRow("calling thread") << 0;
    QTest::newRow("one") << 1;
    QTest::newRow("two") << 2;
    QTest::newRow("four") << 4;
}

void TestPhotoDecoder::heicGridDecodesOnAnyThreadCount()
{
    QFETCH(int, threads);
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        QSKIP("no HEVC encoder");
    // 3 x 2 tiles of 64 pixels, the last column and row cropped; one flat colour per tile.
    const QSize size(150, 100);
    const auto colour = [](int column, int row) {
        return qRgb(40 + 80 * column, 50 + 150 * row, 200 - 60 * column);
    };
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x)
            image.setPixel(x, y, colour(x / 64, y / 64));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("grid.heic"));
    QVERIFY(qr::fixtures::makeHeicGrid(path, image, 64));

    const int before = PhotoDecoder::heicDecodingThreads();
    PhotoDecoder::setHeicDecodingThreads(threads);
    const QImage decoded = PhotoDecoder::decode(path);
    PhotoDecoder::setHeicDecodingThreads(before);
    QCOMPARE(PhotoDecoder::naturalSize(path), size);
    QCOMPARE(decoded.size(), size);
    for (int row = 0; row < 2; ++row) {
        for (int column = 0; column < 3; ++column) {
            const QRgb got = decoded.pixel(std::min(column * 64 + 20, 149), std::min(row * 64 + 20, 99));
            QVERIFY2(near(got, colour(column, row)),
                     qPrintable(QStringLiteral("tile %1,%2: %3").arg(column).arg(row).arg(got, 0, 16)));
        }
    }
}

void TestPhotoDecoder::hevcDecodersAgree_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("tile"); // 0: one coded image
    QTest::newRow("grid of 64-pixel tiles, edges cropped") << QSize(150, 100) << 64;
    QTest::newRow("grid of 512-pixel tiles") << QSize(1100, 600) << 512;
    QTest::newRow("one coded image, odd sides") << QSize(321, 123) << 0;
}

// libavcodec and libde265 give the same pixels: the HEVC samples are exact, and libheif converts
// them alike.
void TestPhotoDecoder::hevcDecodersAgree()
{
    QFETCH(QSize, size);
    QFETCH(int, tile);
    if (!heif_have_encoder_for_format(heif_compression_HEVC))
        QSKIP("no HEVC encoder");
    if (!qr::HevcTileDecoder::plugin())
        QSKIP("libavcodec has no HEVC decoder");
    QImage image(size, QImage::Format_RGB32);
    std::uint32_t state = 12345;
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u; // texture, as a camera's noise
            const int noise = int(state >> 28);
            image.setPixel(
                x, y, qRgb((x * 255 / size.width() + noise) & 255, (y * 3 + noise) & 255, (x ^ y) & 255));
        }
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("photo.heic"));
    if (tile > 0) {
        QVERIFY(qr::fixtures::makeHeicGrid(path, image, tile));
    } else {
        const QByteArray coded = qr::fixtures::heicgrid::encode(image, 80);
        QFile f(path);
        QVERIFY(!coded.isEmpty() && f.open(QIODevice::WriteOnly) && f.write(coded) == coded.size());
    }
    PhotoDecoder::setHevcDecoder(PhotoDecoder::HevcDecoder::Libde265);
    const std::uint64_t before = qr::HevcTileDecoder::decodedImages();
    const QImage byLibde265 = PhotoDecoder::decode(path);
    QCOMPARE(qr::HevcTileDecoder::decodedImages(), before);
    PhotoDecoder::setHevcDecoder(PhotoDecoder::HevcDecoder::Libavcodec);
    const QImage byLibavcodec = PhotoDecoder::decode(path);
    const int images =
        tile > 0 ? ((size.width() + tile - 1) / tile) * ((size.height() + tile - 1) / tile) : 1;
    QCOMPARE(qr::HevcTileDecoder::decodedImages(), before + std::uint64_t(images));
    QCOMPARE(byLibde265.size(), size);
    QCOMPARE(byLibavcodec.convertToFormat(QImage::Format_RGB32),
             byLibde265.convertToFormat(QImage::Format_RGB32));
}

void TestPhotoDecoder::hevcFramingIsChecked_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("pushed");
    QTest::newRow("nothing") << QByteArray() << true;
    QTest::newRow("a length cut short") << QByteArray("\0\0\x01", 3) << false;
    QTest::newRow("a unit past the end") << QByteArray("\0\0\0\x09\x40\x01", 6) << false;
    QTest::newRow("a length near 4 GiB") << QByteArray("\xFF\xFF\xFF\xFF\x40\x01", 6) << false;
    QTest::newRow("an empty unit, then noise") << QByteArray("\0\0\0\0\0\0\0\x03\x26\x01\xAF", 11) << true;
    QTest::newRow("a parameter set's start only") << QByteArray("\0\0\0\x02\x40\x01", 6) << true;
}

// What libheif hands the plugin is checked before it reaches libavcodec; data that does not decode
// is an error, never a picture or a crash.
void TestPhotoDecoder::hevcFramingIsChecked()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, pushed);
    const heif_decoder_plugin* plugin = qr::HevcTileDecoder::plugin();
    if (!plugin)
        QSKIP("libavcodec has no HEVC decoder");
    QCOMPARE(plugin->does_support_format(heif_compression_HEVC) > 100, true);
    QCOMPARE(plugin->does_support_format(heif_compression_AV1), 0);
    void* decoder = nullptr;
    QCOMPARE(plugin->new_decoder(&decoder).code, heif_error_Ok);
    // A copy of its own, so that a read past it is the sanitizer's to see.
    std::unique_ptr<char[]> bytes(new char[std::size_t(std::max<qsizetype>(data.size(), 1))]);
    std::memcpy(bytes.get(), data.constData(), std::size_t(data.size()));
    QCOMPARE(plugin->push_data(decoder, bytes.get(), std::size_t(data.size())).code == heif_error_Ok, pushed);
    heif_image* image = nullptr;
    QVERIFY(plugin->decode_image(decoder, &image).code != heif_error_Ok);
    QVERIFY(!image);
    plugin->free_decoder(decoder);
}

void TestPhotoDecoder::decodeStaysWithinMemoryBudget_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QSize>("declared");
    QTest::addColumn<QSize>("box");
    QTest::addColumn<bool>("decodes");
    const QSize huge(65500, 65500);
    const QSize display(1024, 768);
    QTest::newRow("progressive JPEG declaring 65500 x 65500, eighth scale")
        << "progressive" << QSize(16, 16) << huge << display << false;
    QTest::newRow("baseline JPEG declaring 65500 x 65500, eighth scale")
        << "baseline" << QSize(16, 16) << huge << display << false;
    QTest::newRow("HEIC grid declaring 16000 x 16000")
        << "heic grid" << QSize(150, 100) << QSize(16000, 16000) << display << false;
    QTest::newRow("phone photo, progressive 4032 x 3024, whole")
        << "progressive" << QSize(4032, 3024) << QSize(4032, 3024) << QSize() << true;
}

void TestPhotoDecoder::decodeStaysWithinMemoryBudget()
{
#ifdef QR_SANITIZED
    QSKIP("the sanitizer owns malloc");
#endif
    QFETCH(QString, kind);
    QFETCH(QSize, size);
    QFETCH(QSize, declared);
    QFETCH(QSize, box);
    QFETCH(bool, decodes);
    QTemporaryDir dir;
    const bool heic = kind == QLatin1String("heic grid");
    const QString path = dir.filePath(heic ? QStringLiteral("p.heic") : QStringLiteral("p.jpg"));
    if (heic) {
        if (!heif_have_encoder_for_format(heif_compression_HEVC))
            QSKIP("no HEVC encoder");
        QVERIFY(writeHeicGridDeclaring(path, declared));
    } else {
        QVERIFY(writeJpegDeclaring(path, size, declared, kind == QLatin1String("progressive")));
    }
    QImage image;
    const std::int64_t peak = peakHeapDuring([&] { image = PhotoDecoder::decode(path, box); });
    QVERIFY2(peak <= PhotoDecoder::kMemoryBudget, qPrintable(QStringLiteral("peak %1 MB").arg(peak >> 20)));
    QCOMPARE(image.isNull(), !decodes);
    if (decodes)
        QCOMPARE(image.size(), size);
}

void TestPhotoDecoder::fileChangedWhileDecodingIsSkipped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("change");
    for (const char* name : {"p.jpg", "p.heic"}) {
        for (const char* change : {"truncated to nothing", "truncated to half", "rewritten in place"})
            QTest::addRow("%s %s", name, change) << QString::fromLatin1(name) << QString::fromLatin1(change);
    }
}

// A photo that changes between the moment it was opened and its decoding is skipped: the decoder never
// reads what the file no longer holds (a memory map of a file cut short ends the process).
void TestPhotoDecoder::fileChangedWhileDecodingIsSkipped()
{
    QFETCH(QString, name);
    QFETCH(QString, change);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name.endsWith(QLatin1String(".heic"))) {
        if (!heif_have_encoder_for_format(heif_compression_HEVC))
            QSKIP("no HEVC encoder");
        QVERIFY(writeHeic(path, QSize(256, 192), qRgb(200, 40, 40), 0, 0));
    } else {
        QVERIFY(writeJpeg(path, QSize(640, 480), 0));
    }
    QVERIFY(!PhotoDecoder::decode(path, QSize(320, 240)).isNull());

    qr::RegularFile file(path);
    QVERIFY(file.isOpen());
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadWrite));
    if (change == QLatin1String("truncated to nothing")) {
        QVERIFY(f.resize(0));
    } else if (change == QLatin1String("truncated to half")) {
        QVERIFY(f.resize(f.size() / 2));
    } else {
        QByteArray bytes = f.readAll();
        bytes[bytes.size() / 2] = char(~bytes[bytes.size() / 2]);
        QVERIFY(f.seek(0));
        QCOMPARE(f.write(bytes), bytes.size());
        // A later modification time, as a rewrite a moment later has.
        QVERIFY(f.setFileTime(f.fileTime(QFileDevice::FileModificationTime).addSecs(5),
                              QFileDevice::FileModificationTime));
    }
    f.close();
    QSize natural(1, 1);
    QVERIFY(PhotoDecoder::decodeFile(file, QSize(320, 240), &natural).isNull());
    QVERIFY(!natural.isValid());
}

// The file is cut to nothing and written again over and over while it is decoded: each decode gives
// the whole photo or nothing, and never touches what the file no longer holds.
void TestPhotoDecoder::fileRewrittenDuringDecodesNeverFaults()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.jpg"));
    const QSize size(1600, 1200);
    QVERIFY(writeJpeg(path, size, 0));
    QFile source(path);
    QVERIFY(source.open(QIODevice::ReadOnly));
    const QByteArray bytes = source.readAll();
    source.close();

    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    std::atomic<bool> done{false};
    std::atomic<int> rewrites{0};
    std::thread writer([&] {
        while (!done.load()) {
            if (::ftruncate(fd, 0) != 0 || ::pwrite(fd, bytes.constData(), std::size_t(bytes.size()), 0) < 0)
                break;
            ++rewrites;
        }
    });
    int whole = 0;
    int skipped = 0;
    for (int i = 0; i < 300 && whole + skipped == i; ++i) {
        const QImage image = PhotoDecoder::decode(path, QSize(800, 600));
        if (image.isNull())
            ++skipped;
        else if (image.size() == PhotoDecoder::fittedSize(size, QSize(800, 600)))
            ++whole;
    }
    done = true;
    writer.join();
    ::close(fd);
    QVERIFY(rewrites > 0);
    QCOMPARE(whole + skipped, 300);
}

void TestPhotoDecoder::fifoInPhotosPlaceNeverBlocks_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("call");
    for (const char* name : {"p.jpg", "p.heic"}) {
        for (const char* call : {"decode", "naturalSize", "decodePreview"})
            QTest::addRow("%s %s", name, call) << QString::fromLatin1(name) << QString::fromLatin1(call);
    }
}

void TestPhotoDecoder::fifoInPhotosPlaceNeverBlocks()
{
    QFETCH(QString, name);
    QFETCH(QString, call);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    const QByteArray native = QFile::encodeName(path);
    QCOMPARE(::mkfifo(native.constData(), 0600), 0);
    QFuture<bool> nothing = QtConcurrent::run([&] {
        if (call == QLatin1String("naturalSize"))
            return !PhotoDecoder::naturalSize(path).isValid();
        if (call == QLatin1String("decodePreview"))
            return PhotoDecoder::decodePreview(path, QSize(64, 64)).isNull();
        return PhotoDecoder::decode(path, QSize(64, 64)).isNull();
    });
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

QTEST_GUILESS_MAIN(TestPhotoDecoder)
#include "tst_PhotoDecoder.moc"
