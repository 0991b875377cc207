// Generates signed burst sets for trying the media player without a phone:
//   demo-gen [--no-raw] [--no-heic] OUT_DIR
//   demo-gen --camera SETS [--landscape] OUT_DIR
// JPEG sets, a HEIC set (when an HEVC encoder is installed), a raw set of ".rgb2" frames and one
// ".krox" container, each showing a ball bouncing across the set. With --camera: only SETS sets of
// 20 camera-size JPEG photos (3024 x 4032 as a phone is held, or 4032 x 3024) with sensor noise, as
// costly to decode as a phone's photos at high quality.
#include "DemoScene.h"
#include "SignedPhotoWriter.h"
#include "decode/KroxWriter.h"
#include "decode/Lz4FrameEncoder.h"
#include "platform/ReplacingFile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QGuiApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>

using namespace qr;

namespace {

bool writeWhole(const QString& path, const QByteArray& bytes)
{
    return !bytes.isEmpty() &&
           writeFileReplacing(path, std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                              static_cast<std::size_t>(bytes.size())));
}

QByteArray rawRgb(const QImage& image)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    QByteArray out;
    out.reserve(qsizetype(rgb.width()) * rgb.height() * 3);
    for (int y = 0; y < rgb.height(); ++y)
        out.append(reinterpret_cast<const char*>(rgb.constScanLine(y)), qsizetype(rgb.width()) * 3);
    return out;
}

int photoSet(const QString& dir, const QString& nameFormat, int set, int count, QSize size, QColor ball,
             bool heic)
{
    const DemoScene scene(size, set, ball);
    const QString comment = SignedPhotoWriter::signature();
    for (int i = 0; i < count; ++i) {
        const QImage frame = scene.frame(i, count);
        const QByteArray bytes =
            heic ? SignedPhotoWriter::heic(frame, comment) : SignedPhotoWriter::jpeg(frame, comment);
        if (!writeWhole(dir + QLatin1Char('/') +
                            nameFormat.arg(set, 3, 10, QLatin1Char('0')).arg(i + 1, 3, 10, QLatin1Char('0')),
                        bytes))
            return 1;
    }
    std::fprintf(stderr, "set %d: %d %s photos\n", set, count, heic ? "HEIC" : "JPEG");
    return 0;
}

// Sensor noise of about +-8 levels, mostly in brightness as a camera's, different in every photo.
void addNoise(QImage& image, std::uint32_t seed)
{
    std::uint32_t x = 2463534242u ^ seed;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int c = 0; c < image.width(); ++c) {
            x = x * 1664525u + 1013904223u;
            const int n = static_cast<int>(x >> 28) - 8;
            const int tint = static_cast<int>((x >> 20) & 3u) - 1;
            const QRgb p = line[c];
            line[c] = qRgb(std::clamp(qRed(p) + n + tint, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n - tint, 0, 255));
        }
    }
}

int cameraSets(const QString& dir, int sets, bool landscape)
{
    const QSize size = landscape ? QSize(4032, 3024) : QSize(3024, 4032);
    const int count = 20;
    const QString comment = SignedPhotoWriter::signature();
    for (int set = 1; set <= sets; ++set) {
        const DemoScene scene(size, set, QColor::fromHsv((set * 53) % 360, 200, 230));
        for (int i = 0; i < count; ++i) {
            QImage frame = scene.frame(i, count);
            addNoise(frame, static_cast<std::uint32_t>(set * 1000 + i));
            const QByteArray bytes = SignedPhotoWriter::jpeg(frame, comment, 92);
            if (!writeWhole(dir + QStringLiteral("/kro_%1_%2_01.jpg")
                                      .arg(set, 3, 10, QLatin1Char('0'))
                                      .arg(i + 1, 3, 10, QLatin1Char('0')),
                            bytes))
                return 1;
        }
        std::fprintf(stderr, "set %d: %d camera-size JPEG photos of %d x %d\n", set, count, size.width(),
                     size.height());
    }
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Generates signed burst sets for the media player."));
    parser.addHelpOption();
    parser.addOption(
        {QStringLiteral("no-raw"), QStringLiteral("Skip the raw .rgb2 set (about 200 MB once unpacked).")});
    parser.addOption({QStringLiteral("no-heic"), QStringLiteral("Skip the HEIC set.")});
    parser.addOption({QStringLiteral("raw-only"),
                      QStringLiteral("Only a raw set of N .rgb2 frames of 4032 x 3024 (N from 10 to 999)."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("camera"),
                      QStringLiteral("Only N sets (1 to 99) of 20 noisy camera-size JPEG photos."),
                      QStringLiteral("N")});
    parser.addOption({QStringLiteral("landscape"), QStringLiteral("With --camera: 4032 x 3024 photos.")});
    parser.addPositionalArgument(QStringLiteral("OUT_DIR"),
                                 QStringLiteral("Folder to fill (created when missing)."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fprintf(stderr, "demo-gen: give exactly one output folder\n");
        return 2;
    }
    const QString out = parser.positionalArguments().first();
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "demo-gen: cannot create %s\n", qPrintable(out));
        return 1;
    }

    if (parser.isSet(QStringLiteral("camera"))) {
        bool ok = false;
        const int sets = parser.value(QStringLiteral("camera")).toInt(&ok);
        if (!ok || sets < 1 || sets > 99) {
            std::fprintf(stderr, "demo-gen: --camera takes a number from 1 to 99\n");
            return 2;
        }
        return cameraSets(out, sets, parser.isSet(QStringLiteral("landscape")));
    }

    if (parser.isSet(QStringLiteral("raw-only"))) {
        bool ok = false;
        const int count = parser.value(QStringLiteral("raw-only")).toInt(&ok);
        if (!ok || count < 10 || count > 999) {
            std::fprintf(stderr, "demo-gen: --raw-only takes a number from 10 to 999\n");
            return 2;
        }
        const DemoScene scene(QSize(4032, 3024), 6, QColor(120, 240, 110));
        for (int i = 0; i < count; ++i) {
            const QByteArray packed = Lz4FrameEncoder::encode(rawRgb(scene.frame(i, count)));
            if (!writeWhole(out + QStringLiteral("/kro_06_%1_01.rgb2").arg(i + 1, 3, 10, QLatin1Char('0')),
                            packed))
                return 1;
        }
        std::fprintf(stderr, "set 6: %d raw .rgb2 frames of 4032 x 3024\n", count);
        return 0;
    }

    const QSize portrait(768, 1024);
    int rc = 0;
    rc |= photoSet(out, QStringLiteral("kro_%1_%2_01.jpg"), 1, 24, portrait, QColor(230, 200, 40), false);
    rc |= photoSet(out, QStringLiteral("kro_%1_%2_01.jpg"), 2, 30, portrait, QColor(60, 200, 240), false);
    if (!parser.isSet(QStringLiteral("no-heic"))) {
        if (SignedPhotoWriter::heicAvailable())
            rc |= photoSet(out, QStringLiteral("kro_%1_%2_01.heic"), 3, 12, QSize(480, 640),
                           QColor(240, 90, 160), true);
        else
            std::fprintf(stderr, "set 3: skipped, no HEVC encoder installed\n");
    }

    if (!parser.isSet(QStringLiteral("no-raw"))) {
        // A raw set: landscape sensor frames of a recognised size, LZ4-framed as ".rgb2".
        const int count = 10;
        const DemoScene scene(QSize(3088, 2320), 4, QColor(120, 240, 110));
        for (int i = 0; i < count; ++i) {
            const QByteArray packed = Lz4FrameEncoder::encode(rawRgb(scene.frame(i, count)));
            if (!writeWhole(out + QStringLiteral("/kro_04_%1_01.rgb2").arg(i + 1, 3, 10, QLatin1Char('0')),
                            packed))
                rc |= 1;
        }
        std::fprintf(stderr, "set 4: %d raw .rgb2 frames of 3088 x 2320\n", count);
    }

    // One container holding a JPEG set of 12.
    QList<KroxWriter::Entry> entries;
    const DemoScene scene(portrait, 5, QColor(250, 130, 50));
    for (int i = 0; i < 12; ++i)
        entries.append({1, SignedPhotoWriter::jpeg(scene.frame(i, 12), SignedPhotoWriter::signature())});
    if (!writeWhole(out + QStringLiteral("/burst_005.krox"), KroxWriter::build(5, 1, entries)))
        rc |= 1;
    std::fprintf(stderr, "set 5: a .krox container of 12 JPEG photos\n");
    return rc;
}
