#include "player/Playlist.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include "decode/Lz4FrameDecoder.h"
#include "decode/PooledBuffer.h"
#include "player/PhotoSignature.h"
#include "player/UnpackedContainers.h"

#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <limits>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

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
        if (FileListing::extension(path) == ext)
            kept.append(path);
    }
    return kept;
}

// The largest `.rgb2` read: the LZ4 bound of the largest raw frame, with room for block headers.
constexpr std::int64_t kMaxRgb2Bytes = std::int64_t{40} << 20;

void report(const PlaylistProgressFn& progress, PlaylistProgress::Phase phase, int done, int total)
{
    if (progress)
        progress({phase, done, total, total > 0 ? static_cast<double>(done) / total : 0.0});
}

// A frame is read, decoded and written in pieces of about this size.
constexpr std::size_t kReadPiece = std::size_t{1} << 20;
constexpr std::size_t kWritePiece = std::size_t{1} << 20;
// Each piece goes to the kernel in writes of this size: measured here (bench_pass), writes of 1 MiB
// or more cost the kernel about twice the processor time of 256 KiB ones for the same bytes.
constexpr std::size_t kSyscallPiece = std::size_t{256} << 10;

// The `.rgb` a `.rgb2` frame decompresses to: its own name with the last "2" dropped, so that no two
// `.rgb2` names lead to one `.rgb` (cut at the first ".rgb2", "a.rgb2.rgb2" or "a.rgb2_x/z.rgb2" would
// replace the frame of "a.rgb2" and remove both).
QString rgbPathFor(const QString& rgb2Path)
{
    return rgb2Path.endsWith(QLatin1String(".rgb2")) ? rgb2Path.chopped(1) : rgb2Path + QLatin1String(".rgb");
}

// A worker's buffers come from the shared frame-buffer pool and are kept from frame to frame and
// from pass to pass: a fresh frame-sized buffer costs more in page faults than the decoding, and the
// player's raw frame reads take the frame-sized ones again. Sizes are the frame size, or the largest
// `.rgb2` read for more, so that the pool finds them again.
bool reserveFor(PooledBuffer& buffer, std::size_t bytes)
{
    return buffer.reserve(bytes <= Lz4FrameDecoder::kDefaultCapacity
                              ? Lz4FrameDecoder::kDefaultCapacity
                              : static_cast<std::size_t>(kMaxRgb2Bytes));
}

// Decompresses one `.rgb2` into its `.rgb` beside it; the `.rgb2` stays (see settleDecompressed).
// The identity of the file at `path` (links followed, as RegularFile follows them); false when it
// cannot be found.
bool identify(const QString& path, DecompressedFrame& frame)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    frame.device = st.st_dev;
    frame.inode = st.st_ino;
    frame.size = st.st_size;
    frame.modifiedNs = std::int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
    return true;
}

bool decompressOne(const QString& root, const QString& path, PooledBuffer& input, PooledBuffer& output,
                   const std::function<bool()>& keepGoing, const std::function<void(double)>& part,
                   DecompressedFrame& frame)
{
    const QString source = joined(root, path);
    RegularFile in;
    const bool opened = in.open(source);
    if (opened && in.size() > kMaxRgb2Bytes)
        in.close();
    const auto inputBytes = static_cast<std::size_t>(std::max<std::int64_t>(in.size(), 0));
    if (opened && in.isOpen() && !reserveFor(input, inputBytes)) {
        qCDebug(lcPlaylist) << path << "kept: no memory to read it";
        return false;
    }
    if (!opened || !in.isOpen()) {
        qCDebug(lcPlaylist).noquote()
            << path << "kept: cannot read:" << (opened ? QStringLiteral("too large") : in.errorString());
        return false;
    }
    if (!reserveFor(output, Lz4FrameDecoder::kDefaultCapacity)) {
        qCDebug(lcPlaylist) << path << "kept: no memory for its frame";
        return false;
    }
    // The input is read a piece ahead of the decoder, and each decoded piece written at once: both
    // are still in the cache when they are used again. The file is renamed into place only when the
    // whole stream decoded from the `.rgb2` as it was when opened.
    const std::span<std::uint8_t> bytes = input.span().first(inputBytes);
    std::size_t read = 0;
    bool readFailed = false;
    const auto available = [&](std::size_t end) {
        if (end <= read)
            return true;
        const std::size_t upTo = std::min(inputBytes, std::max(end, read + kReadPiece));
        if (!in.readAt(static_cast<std::int64_t>(read), bytes.subspan(read, upTo - read))) {
            readFailed = true;
            return false;
        }
        read = upTo;
        return true;
    };
    // Not flushed: the caller settles the frames (Playlist::settleDecompressed) once all are written.
    ReplacingFile file(joined(root, rgbPathFor(path)), ReplacingFile::Sync::Deferred);
    const std::span<std::uint8_t> out = output.span().first(Lz4FrameDecoder::kDefaultCapacity);
    std::size_t written = 0;
    const auto writeUpTo = [&](std::size_t end) {
        if ((end - written < kWritePiece && end < out.size()) || !file.ok() || !keepGoing())
            return;
        for (std::size_t at = written; at < end; at += kSyscallPiece)
            file.write(out.subspan(at, std::min(kSyscallPiece, end - at)));
        written = end;
        // The output's size is known only at the end; the largest frame's size stands for it.
        part(std::min(1.0, static_cast<double>(end) / Lz4FrameDecoder::kDefaultCapacity));
    };
    const std::size_t decoded = Lz4FrameDecoder::decodeInto(bytes, out, writeUpTo, available);
    frame.rgb2 = path;
    if (readFailed || !in.unchanged() || !identify(source, frame) || frame.size != in.size()) {
        qCDebug(lcPlaylist).noquote() << path << "kept: cannot read:" << in.errorString();
        return false;
    }
    in.close();
    // An undecodable frame keeps its `.rgb2`: an empty `.rgb` would only replace it by nothing.
    if (decoded == 0) {
        qCDebug(lcPlaylist) << path << "kept: not a decodable LZ4 frame";
        return false;
    }
    if (!keepGoing()) {
        file.abandon();
        return false;
    }
    for (std::size_t at = written; at < decoded; at += kSyscallPiece)
        file.write(out.subspan(at, std::min(kSyscallPiece, decoded - at)));
    part(1.0);
    if (!file.commit()) {
        qCDebug(lcPlaylist).noquote() << path << "kept:" << file.errorString();
        return false;
    }
    qCDebug(lcPlaylist) << path << "decompressed to" << decoded << "bytes";
    return true;
}

// The reason shared by most runs of candidates that were not played: too short, or one of the
// signature failures in `unsigned_` (one entry per unplayed run of ten or more).
QString mostCommonRejection(const QStringList& orderedCandidates, const QStringList& unsigned_)
{
    if (orderedCandidates.isEmpty())
        return QStringLiteral("no photo of the chosen type is named kro_\u2026 or krox_\u2026");
    QStringList reasons = unsigned_;
    const QString shortRun = QStringLiteral("fewer than %1 photos in a set").arg(Playlist::kMinPhotosPerSet);
    qsizetype runStart = 0;
    while (runStart < orderedCandidates.size()) {
        const QString key = Playlist::setKey(orderedCandidates.at(runStart));
        qsizetype runEnd = runStart + 1;
        while (runEnd < orderedCandidates.size() && Playlist::setKey(orderedCandidates.at(runEnd)) == key)
            ++runEnd;
        if (runEnd - runStart < Playlist::kMinPhotosPerSet)
            reasons.append(shortRun);
        runStart = runEnd;
    }
    QString best;
    qsizetype bestCount = 0;
    for (const QString& reason : reasons) {
        const qsizetype count = reasons.count(reason);
        if (count > bestCount) {
            best = reason;
            bestCount = count;
        }
    }
    return best;
}

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

bool Playlist::isCandidate(const QString& relativePath, std::int32_t typeFilter)
{
    if (!relativePath.startsWith(QLatin1String("kro_")) && !relativePath.startsWith(QLatin1String("krox_")))
        return false;
    const QString ext = FileListing::extension(relativePath);
    if (ext == QLatin1String("jpg"))
        return typeFilter == 0 || typeFilter == 3;
    if (ext == QLatin1String("heic"))
        return typeFilter == 1 || typeFilter == 3;
    if (ext == QLatin1String("rgb"))
        return typeFilter == 2 || typeFilter == 3;
    return false;
}

namespace {

// The end of the run of names that share the set key of the name at `start`.
qsizetype endOfRun(const QStringList& names, qsizetype start)
{
    const QString key = Playlist::setKey(names.at(start));
    qsizetype end = start + 1;
    while (end < names.size() && Playlist::setKey(names.at(end)) == key)
        ++end;
    return end;
}

} // namespace

void Playlist::cutIntoSets(const QStringList& orderedCandidates,
                           const std::function<bool(const QString&)>& signed_, QStringList& playlist,
                           QList<std::int32_t>& indexes, const std::function<void(bool played)>& checked)
{
    qsizetype runStart = 0;
    while (runStart < orderedCandidates.size()) {
        const qsizetype runEnd = endOfRun(orderedCandidates, runStart);
        const qsizetype length = runEnd - runStart;
        if (length < kMinPhotosPerSet)
            qCDebug(lcPlaylist) << "set" << setKey(orderedCandidates.at(runStart)) << "skipped:" << length
                                << "photos, fewer than" << kMinPhotosPerSet;
        if (length >= kMinPhotosPerSet) {
            const auto first = static_cast<std::int32_t>(playlist.size());
            const auto last = static_cast<std::int32_t>(first + length - 1);
            for (qsizetype i = runStart; i < runEnd; ++i)
                playlist.append(orderedCandidates.at(i));
            const bool played =
                signed_(orderedCandidates.at(runStart)) && signed_(orderedCandidates.at(runEnd - 1));
            if (played) {
                indexes.append(first);
                indexes.append(last);
            }
            if (checked)
                checked(played);
        }
        runStart = runEnd;
    }
}

int Playlist::countSets(const QStringList& orderedCandidates)
{
    int sets = 0;
    qsizetype runStart = 0;
    while (runStart < orderedCandidates.size()) {
        const qsizetype runEnd = endOfRun(orderedCandidates, runStart);
        if (runEnd - runStart >= kMinPhotosPerSet)
            ++sets;
        runStart = runEnd;
    }
    return sets;
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
                               const std::function<bool()>& keepGoing, const PlaylistProgressFn& progress,
                               UnpackedContainers* unpacked, const RoomFn& roomFor)
{
    const QStringList containers = withExtension(listRecursively(root), QLatin1String("krox"));
    const auto total = static_cast<int>(containers.size());
    report(progress, PlaylistProgress::Phase::Unpacking, 0, total);
    int valid = 0;
    for (int i = 0; i < total; ++i) {
        if (keepGoing && !keepGoing())
            break;
        const QString& path = containers.at(i);
        const QString full = joined(root, path);
        if (unpacked && unpacked->stillUnpacked(full)) {
            qCDebug(lcPlaylist).noquote() << path << "already unpacked; its files stand";
            ++valid;
            report(progress, PlaylistProgress::Phase::Unpacking, i + 1, total);
            continue;
        }
        // What a container writes is at most its own size.
        if (roomFor && !roomFor(QFileInfo(full).size()))
            break;
        const KroxResult result = decoder.processKroxFile(full, root, keepGoing);
        if (unpacked) {
            if (result.ok() && !result.written.isEmpty())
                unpacked->remember(full, result.written);
            else
                unpacked->forget(full);
        }
        if (result.valid)
            ++valid;
        if (!result.ok())
            qCDebug(lcPlaylist).noquote()
                << path
                << "not (fully) unpacked:" << (result.failedWrites > 0 ? result.writeError : result.reason);
        if (keepGoing && !keepGoing())
            break; // an abandoned container is not done
        report(progress, PlaylistProgress::Phase::Unpacking, i + 1, total);
    }
    return valid;
}

int Playlist::settleDecompressed(const QString& root, const QList<DecompressedFrame>& frames,
                                 const std::function<bool()>& keepGoing)
{
    const auto going = [&keepGoing] {
        return !keepGoing || keepGoing();
    };
    const auto openFrame = [&root](const QString& rgb2Path) {
        const QByteArray name = QFile::encodeName(joined(root, rgbPathFor(rgb2Path)));
        const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
        struct stat st {};
        if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
            ::close(fd);
            return -1;
        }
        return fd;
    };
    // Writeback of every frame is started first, so that the disk has them all queued while the
    // flushes below wait for one after the other.
    for (const DecompressedFrame& frame : frames) {
        if (!going())
            return 0;
        const int fd = openFrame(frame.rgb2);
        if (fd >= 0) {
            ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            ::close(fd);
        }
    }
    int removed = 0;
    for (const DecompressedFrame& frame : frames) {
        if (!going())
            break;
        const QString& path = frame.rgb2;
        const int fd = openFrame(path);
        const bool flushed = fd >= 0 && ::fsync(fd) == 0;
        if (fd >= 0)
            ::close(fd);
        DecompressedFrame now;
        if (!flushed)
            qCDebug(lcPlaylist).noquote() << path << "kept: its frame could not be flushed to disk";
        else if (!identify(joined(root, path), now) || now.device != frame.device ||
                 now.inode != frame.inode || now.size != frame.size || now.modifiedNs != frame.modifiedNs)
            qCDebug(lcPlaylist).noquote() << path << "kept: it changed after it was decompressed";
        else if (!QFile::remove(joined(root, path)))
            qCDebug(lcPlaylist).noquote() << path << "decompressed, but cannot be removed";
        else
            ++removed;
    }
    return removed;
}

int Playlist::decompressFrames(const QString& root, const std::function<bool()>& keepGoing,
                               const PlaylistProgressFn& progress, QList<DecompressedFrame>* unsettled,
                               const RoomFn& roomFor)
{
    const QStringList frames = withExtension(listRecursively(root), QLatin1String("rgb2"));
    const auto total = static_cast<int>(frames.size());
    report(progress, PlaylistProgress::Phase::Decompressing, 0, total);
    const std::function<bool()> stillWanted = keepGoing ? keepGoing : [] {
        return true;
    };
    std::atomic<bool> noRoom{false};
    const std::function<bool()> going = [&] {
        return !noRoom.load() && stillWanted();
    };
    // Two workers take the frames in order: while one decodes, the other reads or writes, so the
    // pass keeps both cores busy. Each frame is whole work for one worker.
    std::atomic<int> next{0};
    std::mutex reporting;
    int finished = 0;
    int written = 0;
    QList<DecompressedFrame> decompressed;
    std::array<double, 2> underWay{}; // each worker's part of the frame at hand
    const auto tell = [&] {
        if (progress)
            progress({PlaylistProgress::Phase::Decompressing, finished, total,
                      std::min(1.0, (finished + underWay[0] + underWay[1]) / total)});
    };
    const auto work = [&](std::size_t worker) {
        PooledBuffer input;
        PooledBuffer output;
        while (going()) {
            const int i = next.fetch_add(1);
            if (i >= total)
                return;
            // Both workers may be writing a frame of the largest size.
            if (roomFor && !roomFor(2 * static_cast<std::int64_t>(Lz4FrameDecoder::kDefaultCapacity))) {
                noRoom = true;
                return;
            }
            DecompressedFrame frame;
            const bool ok = decompressOne(
                root, frames.at(i), input, output, going,
                [&](double part) {
                    const std::lock_guard lock(reporting);
                    underWay[worker] = part;
                    tell();
                },
                frame);
            if (!going())
                return; // an abandoned frame is not done
            const std::lock_guard lock(reporting);
            written += ok ? 1 : 0;
            if (ok)
                decompressed.append(frame);
            ++finished;
            underWay[worker] = 0;
            tell();
        }
    };
    if (total > 1 && std::thread::hardware_concurrency() > 1) {
        std::jthread second(work, 1);
        work(0);
    } else {
        work(0);
    }
    // A stopped pass does not wait for the disk: its frames stay compressed too, and the next pass
    // decompresses them again. Frames written before the disk ran short are settled, which frees
    // their `.rgb2`.
    if (!stillWanted())
        return written;
    if (unsettled)
        unsettled->append(decompressed);
    else
        settleDecompressed(root, decompressed, stillWanted);
    return written;
}

PlaylistResult Playlist::generatePlaylist(PlaylistRequest request)
{
    PlaylistResult result;
    const std::function<bool()> keepGoing = [&request] {
        return !request.stopped();
    };
    report(request.progress, PlaylistProgress::Phase::Listing, 0, 0);
    QStringList listing;
    const QString root = resolveScanRoot(request.downloadsDir, &listing);
    result.symbolicPath = root;
    // Temporary files of writes that a killed program left behind are not left to pile up.
    if (const int swept = ReplacingFile::sweepStale(root, listing))
        qCDebug(lcPlaylist) << "removed" << swept << "abandoned temporary files";

    // The disk is looked at before each container and frame; the first refusal ends the pass.
    std::mutex roomLock;
    const RoomFn roomFor = [&](std::int64_t bytes) {
        std::int64_t free = std::numeric_limits<std::int64_t>::max();
        struct statvfs fs {};
        if (request.freeBytes)
            free = request.freeBytes(root);
        else if (::statvfs(QFile::encodeName(root).constData(), &fs) == 0)
            free = static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
        if (free - bytes >= kDiskReserveBytes)
            return true;
        const std::lock_guard lock(roomLock);
        if (result.stopReason.isEmpty()) {
            result.stopReason =
                QStringLiteral("Stopped: the disk is nearly full (%1 MB free)").arg(free >> 20);
            qCDebug(lcPlaylist).noquote()
                << "pass stopped:" << free << "bytes free, the next write needs up to" << bytes << "and"
                << kDiskReserveBytes << "stay free";
        }
        return false;
    };

    UnpackedContainers unpacked(request.unpackRecord);
    result.containersUnpacked =
        unpackContainers(root, request.kroxDecoder, keepGoing, request.progress, &unpacked, roomFor);
    QStringList containers;
    for (const QString& path : withExtension(listing, QLatin1String("krox")))
        containers.append(joined(root, path));
    unpacked.save(containers);
    if (keepGoing() && result.stopReason.isEmpty())
        result.framesDecompressed = decompressFrames(
            root, keepGoing, request.progress, request.settleLater ? &result.unsettled : nullptr, roomFor);
    if (request.stopped() || !result.stopReason.isEmpty()) {
        result.stopped = true;
        qCDebug(lcPlaylist) << "pass abandoned";
        return result;
    }

    QStringList candidates;
    for (const QString& path : listRecursively(root)) {
        if (isCandidate(path, request.typeFilter))
            candidates.append(path);
    }

    const int sets = countSets(candidates);
    int checked = 0;
    report(request.progress, PlaylistProgress::Phase::Checking, 0, sets);
    // Why each run was not played; the most frequent reason is shown when nothing plays.
    QStringList rejections;
    QString failure;
    QList<std::int32_t> indexes;
    cutIntoSets(
        candidates,
        [&](const QString& path) {
            if (request.stopped())
                return false;
            failure = PhotoSignature::photoFailure(joined(root, path));
            if (!failure.isEmpty())
                qCDebug(lcPlaylist).noquote()
                    << "set" << setKey(path) << "not played:" << path << "-" << failure;
            return failure.isEmpty();
        },
        result.sortedList, indexes,
        [&](bool played) {
            if (request.stopped())
                return;
            if (!played)
                rejections.append(QStringLiteral("unsigned photos (") + failure + QLatin1Char(')'));
            report(request.progress, PlaylistProgress::Phase::Checking, ++checked, sets);
        });
    result.stopped = request.stopped();
    if (result.stopped) {
        result.sortedList.clear();
        qCDebug(lcPlaylist) << "pass abandoned";
        return result;
    }
    result.setIndexes = result.sortedList.isEmpty() ? indexes : orderPairs(indexes, request.fifoLifo);
    if (result.setIndexes.isEmpty())
        result.rejection = mostCommonRejection(candidates, rejections);
    qCDebug(lcPlaylist) << "playlist:" << result.sortedList.size() << "photos,"
                        << result.setIndexes.size() / 2 << "playable sets";
    return result;
}

} // namespace qr
