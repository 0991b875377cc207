// Clips of a set, read back with libavformat and libavcodec (colours converted with libswscale, not
// with the converter the encoder uses): codec, size, frame count, exact frame times, the index at
// the front, each frame's colour against its photo; cancelling; raw and HEIC sets; kroxtool clip.
#include "player/ClipExporter.h"

#include "PlayerFixtures.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libswscale/swscale.h>
}

#include <atomic>

using namespace qr;

namespace {

struct Clip {
    bool ok = false;
    AVCodecID codec = AV_CODEC_ID_NONE;
    AVPixelFormat pixelFormat = AV_PIX_FMT_NONE;
    QSize size;
    AVRational frameRate{0, 1};
    AVRational timeBase{0, 1};
    QList<std::int64_t> pts;   // presentation order
    std::int64_t duration = 0; // of the stream, in its time base
    QList<QImage> frames;      // RGB32
    QStringList topLevelBoxes;
};

// Top-level MP4 boxes in file order.
QStringList boxesOf(const QString& path)
{
    QFile f(path);
    QStringList boxes;
    if (!f.open(QIODevice::ReadOnly))
        return boxes;
    const QByteArray bytes = f.readAll();
    qsizetype at = 0;
    while (at + 8 <= bytes.size()) {
        std::uint64_t size = qFromBigEndian<std::uint32_t>(bytes.constData() + at);
        if (size == 1 && at + 16 <= bytes.size())
            size = qFromBigEndian<std::uint64_t>(bytes.constData() + at + 8);
        boxes << QString::fromLatin1(bytes.mid(at + 4, 4));
        if (size < 8)
            break;
        at += static_cast<qsizetype>(size);
    }
    return boxes;
}

Clip readClip(const QString& path)
{
    Clip clip;
    clip.topLevelBoxes = boxesOf(path);
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return clip;
    std::unique_ptr<AVFormatContext*, void (*)(AVFormatContext**)> closeFormat(&format, avformat_close_input);
    if (avformat_find_stream_info(format, nullptr) < 0)
        return clip;
    const int index = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (index < 0)
        return clip;
    const AVStream* stream = format->streams[index];
    clip.codec = stream->codecpar->codec_id;
    clip.pixelFormat = static_cast<AVPixelFormat>(stream->codecpar->format);
    clip.size = QSize(stream->codecpar->width, stream->codecpar->height);
    clip.frameRate = stream->avg_frame_rate;
    clip.timeBase = stream->time_base;
    clip.duration = stream->duration;
    const AVCodec* decoder = avcodec_find_decoder(clip.codec);
    AVCodecContext* context = avcodec_alloc_context3(decoder);
    std::unique_ptr<AVCodecContext*, void (*)(AVCodecContext**)> freeContext(&context, avcodec_free_context);
    if (!decoder || avcodec_parameters_to_context(context, stream->codecpar) < 0 ||
        avcodec_open2(context, decoder, nullptr) < 0)
        return clip;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    auto takeFrames = [&] {
        while (avcodec_receive_frame(context, frame) == 0) {
            clip.pts << frame->best_effort_timestamp;
            // swscale's vector code may write past the end of a row: convert into a padded image.
            QImage padded((frame->width + 63) & ~63, frame->height + 2, QImage::Format_RGB32);
            SwsContext* sws = sws_getContext(
                frame->width, frame->height, static_cast<AVPixelFormat>(frame->format), frame->width,
                frame->height, AV_PIX_FMT_BGRA, SWS_BILINEAR, nullptr, nullptr, nullptr);
            std::uint8_t* planes[4] = {padded.bits(), nullptr, nullptr, nullptr};
            int strides[4] = {static_cast<int>(padded.bytesPerLine()), 0, 0, 0};
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, planes, strides);
            sws_freeContext(sws);
            const QImage rgb = padded.copy(0, 0, frame->width, frame->height);
            clip.frames << rgb;
        }
    };
    while (av_read_frame(format, packet) >= 0) {
        if (packet->stream_index == index && avcodec_send_packet(context, packet) == 0)
            takeFrames();
        av_packet_unref(packet);
    }
    avcodec_send_packet(context, nullptr);
    takeFrames();
    av_frame_free(&frame);
    av_packet_free(&packet);
    clip.ok = true;
    return clip;
}

QColor photoColour(int i)
{
    return QColor::fromHsv((i * 67) % 360, 170, 210);
}

bool near(QRgb actual, QColor expected, int tolerance = 12)
{
    return std::abs(qRed(actual) - expected.red()) <= tolerance &&
           std::abs(qGreen(actual) - expected.green()) <= tolerance &&
           std::abs(qBlue(actual) - expected.blue()) <= tolerance;
}

QString describe(QRgb c)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
}

// A JPEG of one colour; with `orientation` 6 its EXIF says "turn a quarter clockwise to show".
bool makeJpeg(const QString& path, QSize size, QColor colour, int orientation = 1)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(colour);
    if (!image.save(path, "JPG", 95))
        return false;
    if (orientation == 1)
        return true;
    try {
        auto file = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        file->readMetadata();
        Exiv2::ExifData exif;
        exif["Exif.Image.Orientation"] = static_cast<std::uint16_t>(orientation);
        file->setExifData(exif);
        file->writeMetadata();
        return true;
    } catch (...) {
        return false;
    }
}

QStringList entriesOf(const QString& dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                               QDir::Name);
}

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Every frame starts at exactly n / fps seconds.
bool exactTimes(const Clip& clip, int fps)
{
    for (qsizetype n = 0; n < clip.pts.size(); ++n)
        if (clip.pts[n] * clip.timeBase.num * fps != n * clip.timeBase.den)
            return false;
    return true;
}

} // namespace

class TestClipExport : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void jpegSet_data();
    void jpegSet();
    void cancelHalfWayLeavesNothing();
    void rawSetTurnedAsShown();
    void heicSet();
    void kroxtoolExitCodes_data();
    void kroxtoolExitCodes();
};

void TestClipExport::jpegSet_data()
{
    QTest::addColumn<int>("fps");
    QTest::addColumn<QSize>("photo");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("maxHeight");
    QTest::addColumn<int>("count");
    QTest::addColumn<QSize>("frame");

    QTest::newRow("1 per second, small photo not enlarged")
        << 1 << QSize(160, 120) << 1 << 1440 << 5 << QSize(160, 120);
    QTest::newRow("7 per second, odd sides made even")
        << 7 << QSize(161, 121) << 1 << 1440 << 4 << QSize(160, 120);
    QTest::newRow("30 per second, fitted to the height")
        << 30 << QSize(640, 480) << 1 << 100 << 6 << QSize(132, 100);
    QTest::newRow("turned by its orientation") << 2 << QSize(96, 64) << 6 << 1440 << 3 << QSize(64, 96);
}

void TestClipExport::jpegSet()
{
    QFETCH(int, fps);
    QFETCH(QSize, photo);
    QFETCH(int, orientation);
    QFETCH(int, maxHeight);
    QFETCH(int, count);
    QFETCH(QSize, frame);

    QTemporaryDir photos, videos;
    ClipRequest request;
    for (int i = 0; i < count; ++i) {
        request.photos << photos.filePath(
            QStringLiteral("kro_001_%1_01.jpg").arg(i + 1, 3, 10, QLatin1Char('0')));
        QVERIFY(makeJpeg(request.photos.last(), photo, photoColour(i), orientation));
    }
    request.fps = fps;
    request.maxHeight = maxHeight;
    request.output = videos.filePath("kro_001_001_01.mp4");
    QVERIFY(writeBytes(request.output, "an earlier clip"));

    QList<int> progress;
    const ClipResult result = ClipExporter(2).run(request, [&](int done, int total) {
        QCOMPARE(total, count);
        progress << done;
    });
    QVERIFY2(result.ok(), qPrintable(result.message));
    QCOMPARE(result.frames, count);
    QCOMPARE(progress.size(), count);
    QCOMPARE(progress.last(), count);
    QCOMPARE(entriesOf(videos.path()), QStringList{"kro_001_001_01.mp4"});

    const Clip clip = readClip(request.output);
    QVERIFY(clip.ok);
    QCOMPARE(clip.codec, AV_CODEC_ID_H264);
    QCOMPARE(clip.pixelFormat, AV_PIX_FMT_YUV420P);
    QCOMPARE(clip.size, frame);
    // The last photo lasts one period too: the clip lasts count / fps seconds.
    QCOMPARE(clip.duration * clip.timeBase.num * fps, std::int64_t(count) * clip.timeBase.den);
    QCOMPARE(clip.frameRate.num * 1, fps * clip.frameRate.den);
    QCOMPARE(clip.frames.size(), count);
    QVERIFY(exactTimes(clip, fps));
    // The index comes before the frames, so that playing can start before the whole file is read.
    QVERIFY2(clip.topLevelBoxes.indexOf("moov") >= 0 &&
                 clip.topLevelBoxes.indexOf("moov") < clip.topLevelBoxes.indexOf("mdat"),
             qPrintable(clip.topLevelBoxes.join(' ')));
    for (int i = 0; i < count; ++i) {
        const QRgb centre = clip.frames[i].pixel(frame.width() / 2, frame.height() / 2);
        QVERIFY2(near(centre, photoColour(i)),
                 qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(describe(centre))));
        const QRgb corner = clip.frames[i].pixel(1, 1);
        QVERIFY2(near(corner, photoColour(i)),
                 qPrintable(QStringLiteral("frame %1 corner: %2").arg(i).arg(describe(corner))));
    }
}

void TestClipExport::cancelHalfWayLeavesNothing()
{
    QTemporaryDir photos, videos;
    ClipRequest request;
    for (int i = 0; i < 12; ++i) {
        request.photos << photos.filePath(QStringLiteral("p%1.jpg").arg(i));
        QVERIFY(makeJpeg(request.photos.last(), QSize(320, 240), photoColour(i)));
    }
    request.output = videos.filePath("clip.mp4");
    QVERIFY(writeBytes(request.output, "an earlier clip"));

    std::atomic<bool> cancel{false};
    int last = 0;
    const ClipResult result = ClipExporter(2).run(
        request,
        [&](int done, int) {
            last = done;
            if (done == 6)
                cancel = true;
        },
        &cancel);
    QCOMPARE(result.status, ClipResult::Status::Cancelled);
    QCOMPARE(last, 6);
    // The earlier file is untouched and no part of the new clip remains.
    QCOMPARE(entriesOf(videos.path()), QStringList{"clip.mp4"});
    QCOMPARE(readBytes(request.output), QByteArray("an earlier clip"));
}

void TestClipExport::rawSetTurnedAsShown()
{
    // Landscape sensor frames of 3088 x 2320: the left half in the frame's own colour, the right half
    // white. Turned a quarter clockwise as the player shows them, the left half becomes the top.
    constexpr int w = 3088, h = 2320;
    QTemporaryDir photos, videos;
    ClipRequest request;
    for (int i = 0; i < 3; ++i) {
        const QColor c = photoColour(i);
        QByteArray rgb(qsizetype{w} * h * 3, Qt::Uninitialized);
        char* p = rgb.data();
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const bool left = x < w / 2;
                *p++ = static_cast<char>(left ? c.red() : 255);
                *p++ = static_cast<char>(left ? c.green() : 255);
                *p++ = static_cast<char>(left ? c.blue() : 255);
            }
        request.photos << photos.filePath(
            QStringLiteral("kro_002_%1_01.rgb").arg(i + 1, 3, 10, QLatin1Char('0')));
        QVERIFY(writeBytes(request.photos.last(), rgb));
    }
    request.fps = 15;
    request.output = videos.filePath("raw.mp4");
    const ClipResult result = ClipExporter(2).run(request);
    QVERIFY2(result.ok(), qPrintable(result.message));

    const Clip clip = readClip(request.output);
    QVERIFY(clip.ok);
    QCOMPARE(clip.size, QSize(1080, 1440)); // 2320 x 3088 upright, fitted to 1440 high, even
    QCOMPARE(clip.frames.size(), 3);
    QVERIFY(exactTimes(clip, 15));
    for (int i = 0; i < 3; ++i) {
        const QRgb top = clip.frames[i].pixel(540, 360);
        const QRgb bottom = clip.frames[i].pixel(540, 1080);
        QVERIFY2(near(top, photoColour(i)),
                 qPrintable(QStringLiteral("frame %1 top: %2").arg(i).arg(describe(top))));
        QVERIFY2(near(bottom, Qt::white),
                 qPrintable(QStringLiteral("frame %1 bottom: %2").arg(i).arg(describe(bottom))));
    }
}

void TestClipExport::heicSet()
{
    if (!fixtures::heicEncoderAvailable())
        QSKIP("no HEVC encoder installed");
    QTemporaryDir photos, videos;
    ClipRequest request;
    for (int i = 0; i < 3; ++i) {
        request.photos << photos.filePath(
            QStringLiteral("kro_003_%1_01.heic").arg(i + 1, 3, 10, QLatin1Char('0')));
        QVERIFY(fixtures::makeHeic(request.photos.last(), fixtures::signature(), QSize(96, 128), i));
    }
    request.fps = 6;
    request.output = videos.filePath("heic.mp4");
    const ClipResult result = ClipExporter(2).run(request);
    QVERIFY2(result.ok(), qPrintable(result.message));

    const Clip clip = readClip(request.output);
    QVERIFY(clip.ok);
    QCOMPARE(clip.size, QSize(96, 128));
    QCOMPARE(clip.frames.size(), 3);
    QVERIFY(exactTimes(clip, 6));
    for (int i = 0; i < 3; ++i) {
        const QRgb centre = clip.frames[i].pixel(48, 64);
        const QColor expected = fixtures::testImage(QSize(1, 1), i).pixelColor(0, 0);
        // HEVC at the fixture's quality, then H.264: a wider margin than for JPEG.
        QVERIFY2(near(centre, expected, 16),
                 qPrintable(QStringLiteral("frame %1: %2").arg(i).arg(describe(centre))));
    }
}

void TestClipExport::kroxtoolExitCodes_data()
{
    QTest::addColumn<QStringList>("args"); // "@" stands for the folder of the photos
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("written");

    const QStringList two{"@/a.jpg", "@/b.jpg"};
    QTest::newRow("clip") << (QStringList{"clip", "--fps", "5", "-o", "@/out.mp4"} + two) << 0
                          << "@/out.mp4: 2 photos, 160 x 120 at 5 per second" << true;
    QTest::newRow("max height") << (QStringList{"clip", "--max-height", "60", "-o", "@/out.mp4"} + two) << 0
                                << "2 photos, 80 x 60 at 1 per second" << true;
    QTest::newRow("no photos") << QStringList{"clip", "-o", "@/out.mp4"} << 2 << "at least one photo"
                               << false;
    QTest::newRow("no output") << (QStringList{"clip"} + two) << 2 << "-o OUT.mp4" << false;
    QTest::newRow("-o without a name")
        << QStringList{"clip", "@/a.jpg", "-o"} << 2 << "-o needs a value" << false;
    QTest::newRow("fps 0") << (QStringList{"clip", "--fps", "0", "-o", "@/out.mp4"} + two) << 2 << "1 to 30"
                           << false;
    QTest::newRow("fps 31") << (QStringList{"clip", "--fps", "31", "-o", "@/out.mp4"} + two) << 2 << "1 to 30"
                            << false;
    QTest::newRow("fps not a number")
        << (QStringList{"clip", "--fps", "ten", "-o", "@/out.mp4"} + two) << 2 << "1 to 30" << false;
    QTest::newRow("max height 1") << (QStringList{"clip", "--max-height", "1", "-o", "@/out.mp4"} + two) << 2
                                  << "--max-height" << false;
    QTest::newRow("unknown option") << (QStringList{"clip", "--loop", "-o", "@/out.mp4"} + two) << 2
                                    << "unknown option --loop" << false;
    QTest::newRow("missing photo") << QStringList{"clip", "-o", "@/out.mp4", "@/a.jpg", "@/gone.jpg"} << 1
                                   << "@/gone.jpg: cannot be read" << false;
    QTest::newRow("broken photo in the middle")
        << QStringList{"clip", "-o", "@/out.mp4", "@/a.jpg", "@/broken.jpg", "@/b.jpg"} << 1
        << "@/broken.jpg: cannot be read" << false;
    QTest::newRow("broken raw frame first")
        << QStringList{"clip", "-o", "@/out.mp4", "@/short.rgb", "@/a.jpg"} << 1
        << "@/short.rgb: cannot be read" << false;
    QTest::newRow("no such output folder")
        << (QStringList{"clip", "-o", "@/none/out.mp4"} + two) << 1 << "no clip written" << false;
}

void TestClipExport::kroxtoolExitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QFETCH(bool, written);

    QTemporaryDir dir;
    QVERIFY(makeJpeg(dir.filePath("a.jpg"), QSize(160, 120), Qt::red));
    QVERIFY(makeJpeg(dir.filePath("b.jpg"), QSize(160, 120), Qt::blue));
    QVERIFY(writeBytes(dir.filePath("broken.jpg"), "named like a photo, but text"));
    QVERIFY(writeBytes(dir.filePath("short.rgb"), QByteArray(1000, '\x7f')));
    const QStringList before = entriesOf(dir.path());
    for (QString& a : args)
        a.replace(QLatin1Char('@'), dir.path());
    message.replace(QLatin1Char('@'), dir.path());

    QProcess p;
    p.start(QStringLiteral(KROXTOOL_PATH), args);
    QVERIFY(p.waitForFinished(60'000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    QCOMPARE(p.exitCode(), exitCode);
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(QFile::exists(dir.filePath("out.mp4")), written);
    if (written)
        QCOMPARE(readClip(dir.filePath("out.mp4")).frames.size(), 2);
    else
        QCOMPARE(entriesOf(dir.path()), before); // nothing half-written left behind
}

QTEST_GUILESS_MAIN(TestClipExport)
#include "tst_ClipExport.moc"
