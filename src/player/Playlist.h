#pragma once

#include "decode/KroxDecoder.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

namespace qr {

class UnpackedContainers;

// Where a running pass is: its phase and how many of the phase's items are done. Totals are known
// once the phase's listing is taken; the listing itself reports no total. `fraction` is how far the
// phase is (0 to 1), counting the parts of the items under way: a frame moves it while it is being
// decoded and written, so that it moves long before the first frame is done.
struct PlaylistProgress {
    enum class Phase { Listing, Unpacking, Decompressing, Checking };
    Phase phase = Phase::Listing;
    int done = 0;
    int total = 0;
    double fraction = 0;

    friend bool operator==(const PlaylistProgress&, const PlaylistProgress&) = default;
};

// Called on the thread that runs the pass (one call at a time, in order); it must be cheap.
using PlaylistProgressFn = std::function<void(const PlaylistProgress&)>;

// A frame decompressed and written but not yet settled: its `.rgb2` (relative path) and that file's
// identity when it was read, so that settling never removes a `.rgb2` put in its place meanwhile.
struct DecompressedFrame {
    QString rgb2;
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
};

// What a playlist pass needs, taken by value so that the pass can run on any thread.
struct PlaylistRequest {
    QString downloadsDir;        // `_pathToDownloadsDir`
    std::int32_t typeFilter = 3; // `_jpegHeicRgbAllSegMode`: 0 JPEG, 1 HEIC, 2 RGB, 3 all
    std::int32_t fifoLifo = 1;   // `_fifoLifoSegMode`: 0 FIFO, 1 LIFO
    KroxDecoder kroxDecoder;
    // Set from another thread to abandon the pass: it is looked at between files and between the
    // pieces of a long copy, so the pass ends soon after whatever it is doing; a file under way is
    // dropped whole. Null: never.
    std::shared_ptr<const std::atomic<bool>> stop;
    PlaylistProgressFn progress;
    // False: the pass flushes the frames it decompressed to disk and removes their `.rgb2` before it
    // returns. True: it returns as soon as every `.rgb` is written (playback reads them from the
    // system's cache) and lists the frames in `PlaylistResult::unsettled`, for the caller to hand to
    // Playlist::settleDecompressed.
    bool settleLater = false;
    // The file that remembers the containers unpacked (UnpackedContainers); empty: every container is
    // unpacked at every pass.
    QString unpackRecord;
    // The bytes free for the pass's writing in the folder's file system; null: the system's count.
    std::function<std::int64_t(const QString& folder)> freeBytes;

    bool stopped() const { return stop && stop->load(std::memory_order_relaxed); }
};

// What a playlist pass produced.
struct PlaylistResult {
    QString symbolicPath;           // the scan root
    QStringList sortedList;         // `_sortedListv2`: relative paths, set after set
    QList<std::int32_t> setIndexes; // `_arrayOfSetIndexes`: first and last position per set, in playing order
    int containersUnpacked = 0;
    int framesDecompressed = 0; // `.rgb2` files turned into `.rgb`
    bool stopped = false;       // abandoned part way; the lists are empty
    // Why the pass stopped by itself (the disk would have been filled), in words; empty otherwise.
    QString stopReason;
    // With `settleLater`: the `.rgb2` frames (relative paths) whose `.rgb` is written but not yet
    // known to be on disk; both files stay until Playlist::settleDecompressed.
    QList<DecompressedFrame> unsettled;
    // When no set is playable: the reason most runs of candidates were not played, in words.
    QString rejection;
};

// Building the playlist from the Downloads folder: containers first, compressed frames second, then
// photo files grouped into sets by name, signed sets only, in FIFO or LIFO order.
class Playlist {
public:
    static constexpr int kMinPhotosPerSet = 10;
    static constexpr int kSetKeyLength = 8;
    // The free space a pass leaves on the disk at least: it stops before a write would take it.
    static constexpr std::int64_t kDiskReserveBytes = std::int64_t{256} << 20;

    // Whether `bytes` more may be written; once it says no, the phase stops as after a stop.
    using RoomFn = std::function<bool(std::int64_t bytes)>;

    // Plain, case-sensitive, locale-independent order (UTF-16 code units, byte order for ASCII).
    static QStringList getSortedListOfFiles(const QStringList& names);

    // Relative paths of every regular file (or link to one) below `root`, at any depth, in plain
    // order. FIFOs, sockets, devices and folders are never listed, whatever their names; links to
    // folders are not followed, so a link loop cannot hang the listing. An unreadable folder lists
    // nothing.
    static QStringList listRecursively(const QString& root);

    // The scan root: `downloadsDir`, or the target of that symbolic link when the folder lists
    // nothing. `listing` receives the listing of the root chosen.
    static QString resolveScanRoot(const QString& downloadsDir, QStringList* listing = nullptr);

    // A candidate photo: "jpg", "heic" or "rgb" admitted by `typeFilter`, path starting with "kro_"
    // or "krox_".
    static bool isCandidate(const QString& relativePath, std::int32_t typeFilter);
    static QString setKey(const QString& relativePath) { return relativePath.left(kSetKeyLength); }

    // Cuts ordered candidates into runs with one set key; runs of at least ten photos are appended to
    // `playlist`, and a run whose first and last photo pass `signed_` gets its pair in `indexes`.
    // `checked`, when given, is called once for every run of at least ten photos after its check.
    static void cutIntoSets(const QStringList& orderedCandidates,
                            const std::function<bool(const QString&)>& signed_, QStringList& playlist,
                            QList<std::int32_t>& indexes,
                            const std::function<void(bool played)>& checked = {});
    // How many runs of at least ten photos `orderedCandidates` holds: the sets whose signatures a
    // pass reads.
    static int countSets(const QStringList& orderedCandidates);
    // FIFO (0) reverses the order of the pairs; LIFO (1) keeps name order.
    static QList<std::int32_t> orderPairs(const QList<std::int32_t>& indexes, std::int32_t fifoLifo);

    // Unpacks every `.krox` container below `root` into `root`; returns how many were valid. A
    // container that cannot be read or written ends with a diagnostic and the next one follows. One
    // that `unpacked` remembers with all its files standing is not unpacked again. `roomFor` is asked
    // for a container's size before it is unpacked.
    static int unpackContainers(const QString& root, KroxDecoder& decoder,
                                const std::function<bool()>& keepGoing = {},
                                const PlaylistProgressFn& progress = {},
                                UnpackedContainers* unpacked = nullptr, const RoomFn& roomFor = {});
    // Decompresses every `.rgb2` frame below `root` into `root`/<its relative path without the final
    // "2">: "a.rgb2" into "a.rgb", "a.rgb2.rgb2" into "a.rgb2.rgb".
    // The `.rgb` is written through a ReplacingFile; the `.rgb2` is deleted only after that
    // succeeded. An undecodable or unreadable `.rgb2`, one that changes while it is read, or one whose
    // `.rgb` cannot be written (a full or read-only disk) stays where it is, no `.rgb` is left for it,
    // and a diagnostic says why. Returns how many frames were decompressed. Two frames are
    // decompressed at a time; once `keepGoing` says no, the frames under way are dropped whole.
    // A frame found with both files (a pass that ended before its settling) is decompressed again:
    // its `.rgb` may never have reached the disk. The `.rgb` files are written without waiting for
    // the disk; with `unsettled` null they are settled before returning, otherwise the frames are
    // appended to `unsettled` and their `.rgb2` stay. `roomFor` is asked for the largest frame before
    // each frame; once it says no, no further frame is started and those written are settled.
    static int decompressFrames(const QString& root, const std::function<bool()>& keepGoing = {},
                                const PlaylistProgressFn& progress = {},
                                QList<DecompressedFrame>* unsettled = nullptr, const RoomFn& roomFor = {});
    // For each frame (relative to `root`) whose `.rgb` was written: flushes the `.rgb` to disk, then
    // removes the `.rgb2`, so that a crash never leaves a frame without either. A `.rgb2` that is no
    // longer the file that was read stays. Once `keepGoing` says no, the frames not reached keep
    // both files. Returns how many `.rgb2` were removed.
    static int settleDecompressed(const QString& root, const QList<DecompressedFrame>& frames,
                                  const std::function<bool()>& keepGoing = {});

    // The whole pass. Pure apart from the files it reads and writes; runs on any thread.
    static PlaylistResult generatePlaylist(PlaylistRequest request);
};

} // namespace qr
