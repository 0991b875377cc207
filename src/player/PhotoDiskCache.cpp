#include "player/PhotoDiskCache.h"

#include "decode/PooledBuffer.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QColorSpace>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>

namespace qr {

namespace {

constexpr char kMagic[8] = {'Q', 'R', 'D', 'I', 'S', 'P', '1', '\0'};
constexpr const char* kSuffix = ".qrdc";
constexpr int kMaxSide = 1 << 15;

// The file header; every field is written in the machine's own byte order, as the pixels are.
struct Header {
    char magic[8];
    std::uint8_t digest[20];   // of the key
    std::uint32_t colourSpace; // 1: Display P3, 0: none
    std::int32_t width;
    std::int32_t height;
    std::uint64_t payload;     // width x height x 4
    std::uint64_t checksum;    // of the payload
    std::uint64_t headerCheck; // of the bytes above
};
static_assert(sizeof(Header) == 64);

// A position-sensitive sum over 64-bit words in four independent lanes (which the compiler
// vectorises): it runs near memory speed, and a flipped, lost or moved word changes it.
std::uint64_t checksum(const std::uint8_t* p, std::size_t n)
{
    std::uint64_t a[4] = {1, 2, 3, 4};
    std::uint64_t b[4] = {0, 0, 0, 0};
    std::size_t i = 0;
    for (; i + 32 <= n; i += 32) {
        std::uint64_t w[4];
        std::memcpy(w, p + i, 32);
        for (int k = 0; k < 4; ++k) {
            a[k] += w[k];
            b[k] += a[k];
        }
    }
    std::uint64_t tail = n;
    for (; i < n; ++i)
        tail = tail * 131 + p[i];
    // Every bit of the sums reaches every bit of the result: folded without this, a change in the
    // top byte of a late word moved only the top byte and could cancel out.
    const auto mix = [](std::uint64_t x) {
        x ^= x >> 33;
        x *= 0xFF51AFD7ED558CCDull;
        x ^= x >> 33;
        x *= 0xC4CEB9FE1A85EC53ull;
        x ^= x >> 33;
        return x;
    };
    std::uint64_t h = mix(tail);
    for (int k = 0; k < 4; ++k)
        h = mix(h ^ mix(a[k] + 0x9E3779B97F4A7C15ull * std::uint64_t(k + 1))) ^ mix(b[k] ^ h);
    return h;
}

std::array<std::uint8_t, 20> keyDigest(const PhotoDiskCache::Key& key)
{
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(key.path.toUtf8());
    const std::int64_t fields[4] = {key.size, key.modifiedMs, key.box.width(), key.box.height()};
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(fields), sizeof fields));
    hash.addData(key.content);
    const QByteArray result = hash.result();
    std::array<std::uint8_t, 20> digest{};
    std::memcpy(digest.data(), result.constData(), std::min<std::size_t>(20, std::size_t(result.size())));
    return digest;
}

std::string entryName(const std::array<std::uint8_t, 20>& digest)
{
    return QByteArray(reinterpret_cast<const char*>(digest.data()), 16).toHex().toStdString() + kSuffix;
}

// Reads exactly `n` bytes at `offset`; false on an error or a short file.
bool readAll(int fd, void* out, std::size_t n, off_t offset)
{
    auto* p = static_cast<char*>(out);
    while (n > 0) {
        const ssize_t got = ::pread(fd, p, n, offset);
        if (got <= 0)
            return false;
        p += got;
        n -= std::size_t(got);
        offset += got;
    }
    return true;
}

// The modification time records the last use, so that the order of eviction survives a restart.
void setLastUse(const QString& path, std::int64_t ms)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ms / 1000), long((ms % 1000) * 1'000'000)}};
    ::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0);
}

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

PhotoDiskCache::PhotoDiskCache(QString folder, std::int64_t budgetBytes)
    : folder_(std::move(folder)), budget_(std::max<std::int64_t>(0, budgetBytes))
{}

PhotoDiskCache::~PhotoDiskCache() = default;

QString PhotoDiskCache::defaultFolder()
{
    QString base = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (base.isEmpty() || QCoreApplication::applicationName().isEmpty())
        base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
               QStringLiteral("/quintaray-tv-studio");
    return base + QStringLiteral("/display-copies");
}

PhotoDiskCache::Key PhotoDiskCache::keyFor(const QString& path, QSize box)
{
    Key key{path, -1, 0, box, {}};
    // A file's time can be set back (an archive unpacked, a copy that keeps times): its first and
    // last bytes, where a photo's headers and the end of its data lie, are checked as well.
    RegularFile file(path);
    if (!file.isOpen())
        return key;
    constexpr std::int64_t kEnd = std::int64_t{64} << 10;
    const std::int64_t size = file.size();
    const std::int64_t head = std::min(size, kEnd);
    const std::int64_t tail = std::min(size - head, kEnd);
    QByteArray bytes(qsizetype(head + tail), Qt::Uninitialized);
    auto* data = reinterpret_cast<std::uint8_t*>(bytes.data());
    if (!file.readAt(0, std::span(data, std::size_t(head))) ||
        !file.readAt(size - tail, std::span(data + head, std::size_t(tail))))
        return key;
    key.content = QCryptographicHash::hash(bytes, QCryptographicHash::Sha1);
    key.size = size;
    key.modifiedMs = QFileInfo(path).lastModified().toMSecsSinceEpoch();
    return key;
}

QString PhotoDiskCache::entryPath(const Key& key) const
{
    return folder_ + QLatin1Char('/') + QString::fromStdString(entryName(keyDigest(key)));
}

bool PhotoDiskCache::contains(const Key& key) const
{
    const std::lock_guard lock(mutex_);
    scanLocked();
    return entries_.count(entryName(keyDigest(key))) > 0;
}

std::int64_t PhotoDiskCache::usedBytes() const
{
    const std::lock_guard lock(mutex_);
    scanLocked();
    return used_;
}

void PhotoDiskCache::scanLocked() const
{
    if (scanned_)
        return;
    scanned_ = true;
    // Entries whose writing was cut short by a killed program.
    ReplacingFile::sweepStale(folder_, QDir(folder_).entryList(QDir::Files | QDir::Hidden | QDir::System),
                              true);
    const QFileInfoList files = QDir(folder_).entryInfoList({QStringLiteral("*") + QLatin1String(kSuffix)},
                                                            QDir::Files | QDir::Hidden);
    for (const QFileInfo& f : files) {
        const Entry e{f.size(), f.lastModified().toMSecsSinceEpoch()};
        entries_[f.fileName().toStdString()] = e;
        used_ += e.bytes;
        clock_ = std::max(clock_, e.lastUse);
    }
}

std::int64_t PhotoDiskCache::nextUseLocked() const
{
    // Wall time, made strictly increasing so that two uses in one millisecond keep their order.
    clock_ = std::max<std::int64_t>(clock_ + 1, QDateTime::currentMSecsSinceEpoch());
    return clock_;
}

QImage PhotoDiskCache::load(const Key& key) const
{
    if (key.size < 0 || !key.box.isValid())
        return {};
    const auto digest = keyDigest(key);
    const std::string name = entryName(digest);
    const QByteArray path = QFile::encodeName(folder_ + QLatin1Char('/') + QString::fromStdString(name));
    Fd file{::open(path.constData(), O_RDONLY | O_CLOEXEC)};
    if (file.fd < 0)
        return {};
    const auto damaged = [&]() -> QImage {
        ::unlink(path.constData());
        const std::lock_guard lock(mutex_);
        if (const auto it = entries_.find(name); it != entries_.end()) {
            used_ -= it->second.bytes;
            entries_.erase(it);
        }
        return {};
    };
    struct stat st {};
    Header h{};
    if (::fstat(file.fd, &st) != 0 || !readAll(file.fd, &h, sizeof h, 0))
        return damaged();
    const bool headerOk =
        std::memcmp(h.magic, kMagic, sizeof kMagic) == 0 &&
        std::memcmp(h.digest, digest.data(), digest.size()) == 0 &&
        h.headerCheck == checksum(reinterpret_cast<const std::uint8_t*>(&h), offsetof(Header, headerCheck)) &&
        h.width > 0 && h.height > 0 && h.width <= kMaxSide && h.height <= kMaxSide &&
        h.payload == std::uint64_t(h.width) * std::uint64_t(h.height) * 4 &&
        std::uint64_t(st.st_size) == sizeof(Header) + h.payload;
    if (!headerOk)
        return damaged();
    // Read into a pooled buffer: a fresh one would cost its page faults on every load.
    PooledBuffer pixels;
    const auto bytes = std::size_t(h.payload);
    if (!pixels.take(bytes))
        return {};
    if (!readAll(file.fd, pixels.data(), bytes, sizeof(Header)) ||
        checksum(pixels.data(), bytes) != h.checksum)
        return damaged();
    QImage image = pixels.toImage(h.width, h.height, h.colourSpace == 1);
    if (image.isNull())
        return {};

    const std::lock_guard lock(mutex_);
    scanLocked();
    const std::int64_t now = nextUseLocked();
    setLastUse(QFile::decodeName(path), now);
    Entry& e = entries_[name];
    if (e.bytes == 0) {
        e.bytes = std::int64_t(st.st_size);
        used_ += e.bytes;
    }
    e.lastUse = now;
    return image;
}

bool PhotoDiskCache::store(const Key& key, const QImage& image)
{
    if (key.size < 0 || !key.box.isValid() || image.isNull() || image.width() > kMaxSide ||
        image.height() > kMaxSide)
        return false;
    const QImage rgb =
        image.format() == QImage::Format_RGB32 ? image : image.convertToFormat(QImage::Format_RGB32);
    if (rgb.isNull())
        return false;
    const auto payload = std::uint64_t(rgb.width()) * std::uint64_t(rgb.height()) * 4;
    const auto bytes = std::int64_t(sizeof(Header) + payload);
    if (bytes > budget_ || !QDir().mkpath(folder_))
        return false;

    const auto digest = keyDigest(key);
    const std::string name = entryName(digest);
    Header h{};
    std::memcpy(h.magic, kMagic, sizeof kMagic);
    std::memcpy(h.digest, digest.data(), digest.size());
    h.colourSpace = rgb.colorSpace() == QColorSpace(QColorSpace::DisplayP3) ? 1 : 0;
    h.width = rgb.width();
    h.height = rgb.height();
    h.payload = payload;
    const auto rowBytes = qsizetype(rgb.width()) * 4;
    if (rgb.bytesPerLine() == rowBytes) {
        h.checksum = checksum(rgb.constBits(), payload);
    } else {
        // Rows with padding: checksum the rows as they will lie in the file.
        QImage packed(rgb.size(), QImage::Format_RGB32);
        if (packed.isNull() || packed.bytesPerLine() != rowBytes)
            return false;
        for (int y = 0; y < rgb.height(); ++y)
            std::memcpy(packed.scanLine(y), rgb.constScanLine(y), std::size_t(rowBytes));
        return store(key, packed);
    }
    h.headerCheck = checksum(reinterpret_cast<const std::uint8_t*>(&h), offsetof(Header, headerCheck));

    // Written beside the entry and renamed over it once complete: a reader never sees half an entry.
    // An entry can always be made again, so it need not wait for the disk.
    ReplacingFile file(folder_ + QLatin1Char('/') + QString::fromStdString(name),
                       ReplacingFile::Sync::Deferred);
    if (!file.write(std::span(reinterpret_cast<const std::uint8_t*>(&h), sizeof h)) ||
        !file.write(std::span(rgb.constBits(), std::size_t(payload))) || !file.commit())
        return false;

    const std::lock_guard lock(mutex_);
    scanLocked();
    Entry& e = entries_[name];
    used_ += bytes - e.bytes;
    e.bytes = bytes;
    e.lastUse = nextUseLocked();
    setLastUse(folder_ + QLatin1Char('/') + QString::fromStdString(name), e.lastUse);
    evictLocked(name);
    return true;
}

void PhotoDiskCache::evictLocked(const std::string& keep)
{
    while (used_ > budget_) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it)
            if (it->first != keep &&
                (oldest == entries_.end() || it->second.lastUse < oldest->second.lastUse))
                oldest = it;
        if (oldest == entries_.end())
            return;
        QFile::remove(folder_ + QLatin1Char('/') + QString::fromStdString(oldest->first));
        used_ -= oldest->second.bytes;
        entries_.erase(oldest);
    }
}

} // namespace qr
