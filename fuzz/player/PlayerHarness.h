#pragma once

// The bodies of the player's fuzz targets, shared with the test that replays their corpus in every
// ordinary build. Each checks a promise and aborts when one breaks.

#include "player/PhotoDecoder.h"
#include "player/PhotoDiskCache.h"
#include "player/PhotoSignature.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qr::fuzz {

// Aborts, naming the line of the promise broken.
inline void require(bool condition, int line = __builtin_LINE())
{
    if (!condition) {
        std::fprintf(stderr, "PlayerHarness.h:%d: promise broken\n", line);
        std::abort();
    }
}

// A scratch folder for the whole run (memory-backed where TMPDIR says so).
inline const QTemporaryDir& scratch()
{
    static const QTemporaryDir dir;
    require(dir.isValid());
    return dir;
}

inline void writeWhole(const QString& path, const std::uint8_t* data, std::size_t size)
{
    QFile f(path);
    require(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    require(f.write(reinterpret_cast<const char*>(data), qint64(size)) == qint64(size));
}

// A photo file of any bytes: the first byte picks the kind (JPEG or HEIC) and the display box. Every
// reader of photos (the decoder at a display size and whole, the side preview, the natural size, the
// signature's EXIF comment) takes it without a fault; what decodes fits its box. The memory budget is
// checked by the caller (the fuzz target meters the heap).
inline void photo(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return;
    static constexpr QSize kBoxes[] = {{}, {64, 48}, {1024, 768}, {7, 1000}};
    const bool heic = (data[0] & 1) != 0;
    const QSize box = kBoxes[(data[0] >> 1) % 4];
    const QString path = scratch().filePath(heic ? QStringLiteral("p.heic") : QStringLiteral("p.jpg"));
    writeWhole(path, data + 1, size - 1);

    QSize natural;
    const QImage image = PhotoDecoder::decode(path, box, &natural);
    if (!image.isNull() && box.isValid())
        require(image.width() <= box.width() && image.height() <= box.height());
    if (!image.isNull())
        require(std::int64_t{image.width()} * image.height() <= PhotoDecoder::kMaxPixels);
    const QImage preview = PhotoDecoder::decodePreview(path, QSize(64, 64));
    if (!preview.isNull())
        require(preview.width() <= 64 && preview.height() <= 64);
    PhotoDecoder::naturalSize(path);
    (void)PhotoSignature::userComment(path);
}

// A display-copy cache entry: the first byte chooses between the input as the whole entry file, and
// a well-made entry (an image built from the input) damaged at a place and by a cut the input picks.
// A load gives nothing or exactly the image stored, never another one, and never a fault.
inline void diskCacheEntry(const std::uint8_t* data, std::size_t size)
{
    if (size < 6)
        return;
    const QString folder = scratch().filePath(QStringLiteral("cache"));
    PhotoDiskCache cache(folder, std::int64_t{64} << 20);
    const PhotoDiskCache::Key key{
        QStringLiteral("/photos/p.jpg"), 1234, 1'700'000'000'000, QSize(64, 48), {}};
    QDir().mkpath(folder);
    const QString entry = cache.entryPath(key);
    if ((data[0] & 1) == 0) {
        writeWhole(entry, data + 1, size - 1);
        const QImage loaded = cache.load(key);
        if (!loaded.isNull())
            require(loaded.width() > 0 && loaded.height() > 0);
        return;
    }
    const int width = 1 + data[1] % 32;
    const int height = 1 + data[2] % 32;
    QImage image(width, height, QImage::Format_RGB32);
    require(!image.isNull());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(data[(3 + x + y * width) % size], x * 7, y * 5));
    require(cache.store(key, image));
    QFile f(entry);
    require(f.open(QIODevice::ReadWrite));
    QByteArray bytes = f.readAll();
    const std::size_t at = (std::size_t(data[3]) << 8 | data[4]) % std::size_t(bytes.size());
    const std::uint8_t flip = data[5];
    bytes[qsizetype(at)] = char(std::uint8_t(bytes[qsizetype(at)]) ^ flip);
    const std::size_t cut = size > 6 ? data[6] % 3 == 0 ? data[6] : 0 : 0;
    if (cut > 0 && cut < std::size_t(bytes.size()))
        bytes.chop(qsizetype(cut));
    require(f.resize(0) && f.seek(0) && f.write(bytes) == bytes.size());
    f.close();
    const QImage loaded = cache.load(key);
    if (flip == 0 && cut == 0)
        require(!loaded.isNull());
    if (!loaded.isNull()) {
        require(loaded.size() == image.size());
        for (int y = 0; y < height; ++y)
            require(std::memcmp(loaded.constScanLine(y), image.constScanLine(y), std::size_t(width) * 4) ==
                    0);
    }
}

} // namespace qr::fuzz
