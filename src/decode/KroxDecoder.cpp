#include "decode/KroxDecoder.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

namespace qr {

namespace {

const char* extensionForType(int type)
{
    switch (type) {
    case 1:
        return "jpg";
    case 2:
        return "heic";
    case 3:
        return "rgb2";
    case 4:
        return "exif";
    default:
        return nullptr;
    }
}

constexpr int kMovieType = 5;

// "<base>-<16 hex digits of the movie's SHA-1>.<mov|mp4>": distinct movies never share a name, and
// unpacking the same container again replaces its movie by an identical file.
QString movieFileName(const QString& base, const QByteArray& sha1, bool quickTime)
{
    return base + QLatin1Char('-') + QString::fromLatin1(sha1.toHex().left(16)) +
           (quickTime ? QLatin1String(".mov") : QLatin1String(".mp4"));
}

} // namespace

KroxDecoder::KroxDecoder(const QString& documentsDir) : pathToDocsDir_(documentsDir) {}

bool KroxDecoder::versionAccepted(std::uint8_t major, std::uint8_t minor)
{
    // "major.minor" read as a decimal number: (10, 2) is 10.2 and (10, 100) is 10.1.
    const QByteArray text = QByteArray::number(major) + '.' + QByteArray::number(minor);
    const float version = static_cast<float>(text.toDouble());
    return !(version < 10.16f);
}

QString KroxDecoder::baseName(int setNumber, int photoNumber)
{
    return QString::asprintf("krox_%03d_%03d", setNumber, photoNumber);
}

KroxLayout KroxDecoder::parse(const QString& fileName, std::span<const std::uint8_t> head,
                              std::int64_t fileSize)
{
    KroxLayout layout;
    const auto fail = [&layout](const QString& reason) {
        layout.valid = false;
        layout.reason = reason;
        return layout;
    };
    if (FileListing::extension(fileName) != QLatin1String("krox"))
        return fail(QStringLiteral("not a .krox file"));
    if (fileSize < kHeaderSize ||
        static_cast<std::int64_t>(head.size()) < std::min<std::int64_t>(fileSize, kHeaderSize))
        return fail(QStringLiteral("shorter than the 12-byte header (%1 bytes)").arg(fileSize));
    if (fileSize > INT_MAX)
        return fail(QStringLiteral("larger than 2 GiB (%1 bytes)").arg(fileSize));
    const std::uint8_t* d = head.data();
    if (!versionAccepted(d[0], d[1]))
        return fail(QStringLiteral("version %1.%2 is below 10.16").arg(d[0]).arg(d[1]));

    const int setNumber = d[3] * 256 + d[5];
    const int count = d[4];
    const int firstPhoto = d[6];
    const std::uint32_t payloadLength = qFromBigEndian<std::uint32_t>(d + 8);
    if (count == 0)
        return fail(QStringLiteral("no entries"));
    // The phone application's own check: the sum wraps in signed 32-bit arithmetic, so a payload
    // length of 2^31 or more passes it.
    const auto declaredEnd =
        static_cast<std::int32_t>(payloadLength + static_cast<std::uint32_t>(4 * count + 12));
    if (declaredEnd > static_cast<std::int32_t>(fileSize))
        return fail(QStringLiteral("declared payload length %1 does not fit in %2 bytes")
                        .arg(payloadLength)
                        .arg(fileSize));
    const std::int64_t tableEnd = kHeaderSize + std::int64_t{4} * count;
    if (tableEnd > fileSize)
        return fail(QStringLiteral("entry table of %1 entries runs past the end of the file").arg(count));
    if (tableEnd > static_cast<std::int64_t>(head.size()))
        return fail(QStringLiteral("entry table not read"));

    const int kept = count < kMaxEntries ? count : kMaxEntries;
    std::int64_t position = tableEnd;
    int photo = firstPhoto;
    for (int i = 0; i < kept; ++i) {
        const std::uint32_t word = qFromBigEndian<std::uint32_t>(d + kHeaderSize + 4 * i);
        const int type = static_cast<int>(word >> 28);
        const std::int64_t length = word & 0x0FFFFFFFu;
        // Every entry after the first advances the photo counter, except a movie in last place.
        if (i > 0 && !(type == kMovieType && i == kept - 1))
            ++photo;
        if (position + length > fileSize) {
            // Stop here: the payloads after this one would be read from the wrong offsets.
            return fail(QStringLiteral("entry %1 of %2 needs %3 bytes at offset %4, the file has %5")
                            .arg(i + 1)
                            .arg(count)
                            .arg(length)
                            .arg(position)
                            .arg(fileSize));
        }
        const QString base = baseName(setNumber, photo);
        if (const char* ext = extensionForType(type))
            layout.payloads.push_back({type, base + QLatin1Char('.') + QLatin1String(ext), position, length});
        else if (type == kMovieType)
            layout.payloads.push_back({type, base, position, length});
        position += length + length % 4;
    }
    layout.valid = true;
    return layout;
}

QString KroxDecoder::moviesDir()
{
    if (pathToDocsDir_.isEmpty())
        pathToDocsDir_ = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (pathToDocsDir_.isEmpty())
        return {};
    const QString dir = pathToDocsDir_ + QLatin1String("/Movies");
    QDir().mkpath(dir);
    return dir;
}

KroxResult KroxDecoder::processKroxFile(const QString& url, const QString& destDir,
                                        const std::function<bool()>& keepGoing)
{
    const KroxResult result = unpack(url, destDir, keepGoing);
    if (result.valid && result.failedWrites == 0)
        qCDebug(lcKrox) << url << "unpacked:" << result.filesWritten() << "files into" << destDir;
    else
        qCDebug(lcKrox).noquote() << url << "-"
                                  << (result.reason.isEmpty() ? QStringLiteral("failed writes")
                                                              : result.reason)
                                  << "- files written:" << result.filesWritten()
                                  << "failed writes:" << result.failedWrites << result.writeError;
    return result;
}

KroxResult KroxDecoder::unpack(const QString& url, const QString& destDir,
                               const std::function<bool()>& keepGoing)
{
    KroxResult result;
    const QString path = url.startsWith(QLatin1String("file:")) ? QUrl(url).toLocalFile() : url;
    // Decide on the name before reading anything.
    if (FileListing::extension(path) != QLatin1String("krox")) {
        result.reason = QStringLiteral("not a .krox file");
        return result;
    }
    RegularFile file;
    if (!file.open(path)) {
        result.reason = QStringLiteral("cannot read: %1").arg(file.errorString());
        return result;
    }
    // Everything below reads inside the size seen at open, however the file changes meanwhile.
    const std::int64_t size = file.size();
    std::uint8_t head[kMaxHeadSize];
    const auto headSize = static_cast<std::size_t>(std::min<std::int64_t>(size, kMaxHeadSize));
    if (!file.readAt(0, std::span(head, headSize))) {
        result.reason = QStringLiteral("cannot read: %1").arg(file.errorString());
        return result;
    }
    const KroxLayout layout = parse(path, std::span(head, headSize), size);
    result.valid = layout.valid;
    result.reason = layout.reason;

    const auto failedWrite = [&result](const QString& what) {
        ++result.failedWrites;
        if (result.writeError.isEmpty())
            result.writeError = what;
    };
    // One buffer, small enough to stay in the processor's cache, carries every payload.
    constexpr std::int64_t kChunk = 1 << 20;
    std::unique_ptr<std::uint8_t[]> chunk;
    for (const KroxPayload& payload : layout.payloads) {
        const bool movie = payload.type == kMovieType;
        QString target;
        if (movie) {
            const QString dir = moviesDir();
            if (dir.isEmpty()) {
                failedWrite(QStringLiteral("no Documents folder for the movie"));
                continue;
            }
            target = dir + QLatin1Char('/') + payload.fileName;
        } else {
            target = destDir + QLatin1Char('/') + payload.fileName;
        }
        // The container stays, so its photos can always be unpacked again: no need to wait for the disk.
        ReplacingFile out(target, ReplacingFile::Sync::Deferred);
        if (!out.ok()) {
            failedWrite(out.errorString());
            continue;
        }
        if (!chunk)
            chunk.reset(new std::uint8_t[kChunk]);
        QCryptographicHash hash(QCryptographicHash::Sha1);
        bool quickTime = false;
        for (std::int64_t done = 0; done < payload.length && out.ok();) {
            if (keepGoing && !keepGoing()) {
                result.valid = false;
                result.reason = QStringLiteral("stopped");
                return result;
            }
            const std::int64_t want = std::min(kChunk, payload.length - done);
            const std::span<std::uint8_t> bytes(chunk.get(), static_cast<std::size_t>(want));
            if (!file.readAt(payload.offset + done, bytes)) {
                // The file shrank or failed under us: what follows cannot be trusted either.
                result.valid = false;
                result.reason = QStringLiteral("cannot read: %1").arg(file.errorString());
                return result;
            }
            if (movie) {
                if (done == 0)
                    quickTime = want >= 12 && std::memcmp(chunk.get() + 4, "ftypqt  ", 8) == 0;
                hash.addData(QByteArrayView(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
            }
            out.write(bytes);
            done += want;
        }
        const QString written = movie ? QFileInfo(target).absolutePath() + QLatin1Char('/') +
                                            movieFileName(payload.fileName, hash.result(), quickTime)
                                      : target;
        if (out.commitAs(written))
            result.written.append(written);
        else
            failedWrite(out.errorString());
    }
    // A container rewritten while it was unpacked may have mixed old and new bytes.
    if (!file.unchanged()) {
        result.valid = false;
        result.reason = QStringLiteral("cannot read: %1").arg(file.errorString());
    }
    return result;
}

} // namespace qr
