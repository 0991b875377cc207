#include "player/Playlist.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include "decode/Lz4FrameDecoder.h"
#include "player/PhotoSignature.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <span>

namespace qr {

namespace {

QString joined(const QString& root, const QString& relativePath)
{
    return root + QLatin1Char('/') + relativePath;
}

// The listing is in plain order already, and stays so when filtered.
QStringList withExtension(const QStringList& listing, QLatin1String ext)
{
    QStringList kept;
    for (const QString& path : listing) {
        if (Playlist::extension(path) == ext)
            kept.append(path);
    }
    return kept;
}

// The largest `.rgb2` read: the LZ4 bound of the largest raw frame, with room for block headers.
constexpr std::int64_t kMaxRgb2Bytes = std::int64_t{40} << 20;

} // namespace

QStringList Playlist::getSortedListOfFiles(const QStringList& names)
{
    return FileListing::sorted(names);
}

QStringList Playlist::listRecursively(const QString& root)
{
    return FileListing::regularFilesBelow(root);
}

QString Playlist::resolveScanRoot(const QString& downloadsDir, QStringList* listing)
{
    QStringList entries = listRecursively(downloadsDir);
    QString root = downloadsDir;
    const QFileInfo info(downloadsDir);
    if (entries.isEmpty() && info.isSymLink()) {
        root = info.symLinkTarget();
        entries = listRecursively(root);
    }
    if (listing)
        *listing = entries;
    return root;
}

QString Playlist::extension(const QString& path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < slash)
        return {};
    return path.mid(dot + 1);
}

bool Playlist::isCandidate(const QString& relativePath, std::int32_t typeFilter)
{
    if (!relativePath.startsWith(QLatin1String("kro_")) && !relativePath.startsWith(QLatin1String("krox_")))
        return false;
    const QString ext = extension(relativePath);
    if (ext == QLatin1String("jpg"))
        return typeFilter == 0 || typeFilter == 3;
    if (ext == QLatin1String("heic"))
        return typeFilter == 1 || typeFilter == 3;
    if (ext == QLatin1String("rgb"))
        return typeFilter == 2 || typeFilter == 3;
    return false;
}

void Playlist::cutIntoSets(const QStringList& orderedCandidates,
                           const std::function<bool(const QString&)>& signed_, QStringList& playlist,
                           QList<std::int32_t>& indexes)
{
    qsizetype runStart = 0;
    while (runStart < orderedCandidates.size()) {
        const QString key = setKey(orderedCandidates.at(runStart));
        qsizetype runEnd = runStart + 1;
        while (runEnd < orderedCandidates.size() && setKey(orderedCandidates.at(runEnd)) == key)
            ++runEnd;
        const qsizetype length = runEnd - runStart;
        if (length < kMinPhotosPerSet)
            qCDebug(lcPlaylist) << "set" << key << "skipped:" << length << "photos, fewer than"
                                << kMinPhotosPerSet;
        if (length >= kMinPhotosPerSet) {
            const auto first = static_cast<std::int32_t>(playlist.size());
            const auto last = static_cast<std::int32_t>(first + length - 1);
            for (qsizetype i = runStart; i < runEnd; ++i)
                playlist.append(orderedCandidates.at(i));
            if (signed_(orderedCandidates.at(runStart)) && signed_(orderedCandidates.at(runEnd - 1))) {
                indexes.append(first);
                indexes.append(last);
            }
        }
        runStart = runEnd;
    }
}

QList<std::int32_t> Playlist::orderPairs(const QList<std::int32_t>& indexes, std::int32_t fifoLifo)
{
    if (fifoLifo != 0)
        return indexes;
    QList<std::int32_t> reversed;
    reversed.reserve(indexes.size());
    for (qsizetype pair = indexes.size() / 2 - 1; pair >= 0; --pair) {
        reversed.append(indexes.at(2 * pair));
        reversed.append(indexes.at(2 * pair + 1));
    }
    return reversed;
}

int Playlist::unpackContainers(const QString& root, KroxDecoder& decoder,
                               const std::function<bool()>& keepGoing)
{
    int valid = 0;
    for (const QString& path : withExtension(listRecursively(root), QLatin1String("krox"))) {
        if (keepGoing && !keepGoing())
            break;
        const KroxResult result = decoder.processKroxFile(joined(root, path), root, keepGoing);
        if (result.valid)
            ++valid;
        if (!result.ok())
            qCDebug(lcPlaylist).noquote()
                << path
                << "not (fully) unpacked:" << (result.failedWrites > 0 ? result.writeError : result.reason);
    }
    return valid;
}

int Playlist::decompressFrames(const QString& root, const std::function<bool()>& keepGoing)
{
    int done = 0;
    for (const QString& path : withExtension(listRecursively(root), QLatin1String("rgb2"))) {
        if (keepGoing && !keepGoing())
            break;
        const QString source = joined(root, path);
        RegularFile in;
        QByteArray bytes;
        if (!in.open(source) || !in.readAll(bytes, kMaxRgb2Bytes)) {
            qCDebug(lcPlaylist).noquote() << path << "kept: cannot read:" << in.errorString();
            continue;
        }
        in.close();
        const FrameBuffer frame = Lz4FrameDecoder::decode(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
        bytes.clear();
        // An undecodable frame keeps its `.rgb2`: an empty `.rgb` would only replace it by nothing.
        if (frame.isNull() || frame.empty()) {
            qCDebug(lcPlaylist) << path << "kept: not a decodable LZ4 frame";
            continue;
        }
        if (keepGoing && !keepGoing())
            break;
        QString error;
        if (!writeFileReplacing(
                joined(root, path.left(path.indexOf(QLatin1String(".rgb2"))) + QLatin1String(".rgb")),
                frame.span(), &error)) {
            qCDebug(lcPlaylist).noquote() << path << "kept:" << error;
            continue;
        }
        ++done;
        if (!QFile::remove(source))
            qCDebug(lcPlaylist).noquote() << path << "decompressed, but cannot be removed";
        qCDebug(lcPlaylist) << path << "decompressed to" << frame.size() << "bytes";
    }
    return done;
}

PlaylistResult Playlist::generatePlaylist(PlaylistRequest request)
{
    PlaylistResult result;
    const std::function<bool()> keepGoing = [&request] {
        return !request.stopped();
    };
    const QString root = resolveScanRoot(request.downloadsDir);
    result.symbolicPath = root;
    result.containersUnpacked = unpackContainers(root, request.kroxDecoder, keepGoing);
    result.framesDecompressed = decompressFrames(root, keepGoing);

    QStringList candidates;
    for (const QString& path : listRecursively(root)) {
        if (isCandidate(path, request.typeFilter))
            candidates.append(path);
    }

    QList<std::int32_t> indexes;
    cutIntoSets(
        candidates,
        [&root, &request](const QString& path) {
            if (request.stopped())
                return false;
            const QString failure = PhotoSignature::photoFailure(joined(root, path));
            if (!failure.isEmpty())
                qCDebug(lcPlaylist).noquote()
                    << "set" << setKey(path) << "not played:" << path << "-" << failure;
            return failure.isEmpty();
        },
        result.sortedList, indexes);
    result.stopped = request.stopped();
    if (result.stopped) {
        qCDebug(lcPlaylist) << "pass abandoned";
        return result;
    }
    result.setIndexes = result.sortedList.isEmpty() ? indexes : orderPairs(indexes, request.fifoLifo);
    qCDebug(lcPlaylist) << "playlist:" << result.sortedList.size() << "photos,"
                        << result.setIndexes.size() / 2 << "playable sets";
    return result;
}

} // namespace qr
