// Writes a large HEIC photo as phones store it, a grid of tiles (here 1024 x 1024, so that a
// 48-megapixel grid stays within the 127 tile properties the fixture can write), with fine detail
// all over so that decoding it costs what a real photo of that size costs.
//   heic-grid-writer PATH WIDTH HEIGHT
#include "HeicGridFixture.h"

#include <QGuiApplication>
#include <QImage>

#include <cstdint>
#include <cstdio>

int main(int argc, char* argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    const int width = args.size() == 4 ? args[2].toInt() : 0;
    const int height = args.size() == 4 ? args[3].toInt() : 0;
    if (width <= 0 || height <= 0) {
        std::fprintf(stderr, "usage: heic-grid-writer PATH WIDTH HEIGHT\n");
        return 2;
    }
    QImage image(width, height, QImage::Format_RGB32);
    if (image.isNull())
        return 1;
    // Gradients with a pseudo-random grain, as a sensor's noise: nothing a coder can skip. The
    // pattern repeats every tile, so the tiles are encoded once and still decoded one by one.
    constexpr int kTile = 1024;
    QImage tile(kTile, kTile, QImage::Format_RGB32);
    std::uint32_t seed = 12345;
    for (int y = 0; y < kTile; ++y) {
        auto* row = reinterpret_cast<QRgb*>(tile.scanLine(y));
        for (int x = 0; x < kTile; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int(seed >> 26);
            row[x] = qRgb((x / 2 + grain) & 255, (y / 2 + grain) & 255, (x ^ y) & 255);
        }
    }
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const auto* from = reinterpret_cast<const QRgb*>(tile.constScanLine(y % kTile));
        for (int x = 0; x < width; ++x)
            row[x] = from[x % kTile];
    }
    return qr::fixtures::makeHeicGrid(args[1], image, kTile, 80) ? 0 : 1;
}
