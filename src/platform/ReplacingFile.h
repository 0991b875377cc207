#pragma once

#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <span>

namespace qr {

class RegularFile;

// The program's one way of writing a file that may replace another: the bytes go to a hidden
// temporary file in the target's folder, which is flushed to disk and renamed over the target only
// when complete. So a target is only ever replaced by a completely written file, and a write that
// fails (a full disk, a read-only folder) or is abandoned leaves nothing behind: no partial or
// empty file and the old target untouched. errorString() says what failed.
class ReplacingFile {
public:
    // Whether the bytes reach the disk before the rename. A writer that removes a source after the
    // commit (a decompressed frame's `.rgb2`, a moved file) needs ToDisk, or a crash could leave
    // neither. A file that can be made again from what stays (a photo unpacked beside its container,
    // a cache entry) may leave the flushing to the system: that costs about half the time of a copy.
    enum class Sync { ToDisk, Deferred };

    explicit ReplacingFile(const QString& targetPath, Sync sync = Sync::ToDisk);
    ~ReplacingFile();
    ReplacingFile(const ReplacingFile&) = delete;
    ReplacingFile& operator=(const ReplacingFile&) = delete;

    // False when the temporary file could not be created or a write failed.
    bool ok() const { return ok_; }
    bool write(std::span<const std::uint8_t> bytes);
    // Closes the file and renames it over the target (or over `finalPath`, a path in the same
    // folder). False, with nothing left behind, when anything failed.
    bool commit();
    bool commitAs(const QString& finalPath);
    // Drops what was written; the target stays as it was.
    void abandon();
    // The hidden temporary file, for a writer that must write by path itself (a muxer that reads
    // back and seeks in what it wrote); commit() then flushes and renames what it wrote. Empty
    // when no temporary file could be made.
    QString temporaryPath() const { return ok_ ? temp_.fileName() : QString(); }

    // Empty while everything succeeded.
    const QString& errorString() const { return error_; }

    // How long a temporary file must have been left unchanged before it counts as abandoned: a
    // write under way changes it all the time.
    static constexpr std::int64_t kStaleAfterSeconds = 15 * 60;
    // Removes the temporary files that writes killed part way left below `folder` (`relativePaths`
    // are candidates, as a listing gives them): only hidden "<.name>.<hex>.part" names of the form
    // this class makes, only regular files (not links) of this user, only those unchanged for
    // `staleAfterSeconds`, and, unless `anyName`, only those whose target is a kind of file this
    // program writes. Returns how many were removed.
    static int sweepStale(const QString& folder, const QStringList& relativePaths, bool anyName = false,
                          std::int64_t staleAfterSeconds = kStaleAfterSeconds);

private:
    bool fail(const QString& what);

    QString target_;
    Sync sync_;
    QFile temp_;
    QString error_;
    bool ok_ = false;
    bool done_ = false;
};

// Writes `bytes` as the whole content of `path` through a ReplacingFile.
bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes, QString* error = nullptr,
                        ReplacingFile::Sync sync = ReplacingFile::Sync::ToDisk);

// Copies the whole of `source` (as it was when opened) to `path` through a ReplacingFile, in pieces
// of at most 1 MiB. Fails, leaving nothing behind, when the source changed while it was read.
// `keepGoing`, when given, is asked between pieces; false abandons the copy.
bool copyFileReplacing(RegularFile& source, const QString& path, QString* error = nullptr,
                       const std::function<bool()>& keepGoing = {});

} // namespace qr
