#include "player/Playlist.h"

#include "platform/LogCategories.h"

#include "decode/Lz4FrameDecoder.h"
#include "player/PhotoSignature.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>
#include <span>

namespace qr {

namespace {

QString joined(const QString& root, const QString& relativePath)
{
    return root + QLatin1Char('/') + relativePath;
}

QStringList withExtension(const QStringList& listing, QLatin1String ext)
{
    QStringList kept;
    for (const QString& path : listing) {
        if (Playlist::extension(path) == ext)
            kept.append(path);
    }
    return Playlist::getSortedListOfFiles(kept);
}

} // namespace

QStringList Playlist::getSortedListOfFiles(const QStringList& names)
{
    if (names.size() < 2)
        return names;
    QStringList sorted = names;
    // QString's operator< compares UTF-16 code units: no locale, no case folding.
    std::stable_sort(sorted.begin(), sorted.end());
    return sorted;
}

QStringList Playlist::listRecursively(const QString& root)
{
    QStringList listing;
    const QDir base(root);
    // Without FollowSymlinks the iterator lists a link but never descends into a linked folder.
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        listing.append(base.relativeFilePath(it.next()));
    return listing;
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

int Playlist::unpackContainers(const QString& root, KroxDecoder& decoder)
{
    int valid = 0;
    for (const QString& path : withExtension(listRecursively(root), QLatin1String("krox"))) {
        if (decoder.processKroxFile(joined(root, path), root).valid)
            ++valid;
    }
    return valid;
}

int Playlist::decompressFrames(const QString& root)
{
    int done = 0;
    for (const QString& path : withExtension(listRecursively(root), QLatin1String("rgb2"))) {
        const QString source = joined(root, path);
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = in.readAll();
        in.close();
        const FrameBuffer frame = Lz4FrameDecoder::decode(
            std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()), bytes.size()));
        // An undecodable frame keeps its `.rgb2`: an empty `.rgb` would only replace it by nothing.
        if (frame.isNull() || frame.empty()) {
            qCDebug(lcPlaylist) << path << "kept: not a decodable LZ4 frame";
            continue;
        }
        QSaveFile out(joined(root, path.left(path.indexOf(QLatin1String(".rgb2"))) + QLatin1String(".rgb")));
        if (!out.open(QIODevice::WriteOnly))
            continue;
        if (out.write(reinterpret_cast<const char*>(frame.data()), static_cast<qint64>(frame.size())) !=
                static_cast<qint64>(frame.size()) ||
            !out.commit())
            continue;
        ++done;
        QFile::remove(source);
        qCDebug(lcPlaylist) << path << "decompressed to" << frame.size() << "bytes";
    }
    return done;
}

PlaylistResult Playlist::generatePlaylist(PlaylistRequest request)
{
    PlaylistResult result;
    const QString root = resolveScanRoot(request.downloadsDir);
    result.symbolicPath = root;
    result.containersUnpacked = unpackContainers(root, request.kroxDecoder);
    result.framesDecompressed = decompressFrames(root);

    QStringList candidates;
    for (const QString& path : listRecursively(root)) {
        if (isCandidate(path, request.typeFilter))
            candidates.append(path);
    }
    candidates = getSortedListOfFiles(candidates);

    QList<std::int32_t> indexes;
    cutIntoSets(
        candidates,
        [&root](const QString& path) {
            const QString failure = PhotoSignature::photoFailure(joined(root, path));
            if (!failure.isEmpty())
                qCDebug(lcPlaylist).noquote()
                    << "set" << setKey(path) << "not played:" << path << "-" << failure;
            return failure.isEmpty();
        },
        result.sortedList, indexes);
    result.setIndexes = result.sortedList.isEmpty() ? indexes : orderPairs(indexes, request.fifoLifo);
    qCDebug(lcPlaylist) << "playlist:" << result.sortedList.size() << "photos,"
                        << result.setIndexes.size() / 2 << "playable sets";
    return result;
}

} // namespace qr
