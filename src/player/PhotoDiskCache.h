#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <mutex>
#include <string>
#include <unordered_map>

namespace qr {

// Prepared display copies kept on disk between plays and program runs, so that a set that has been
// played once does not wait for its decoder again. One file per copy, named after a digest of the
// key: a small header, then the rows of the Format_RGB32 image as they are in memory, so that a load
// is one read straight into the image. The header holds the key's digest, the geometry and a checksum
// of the pixels; an entry whose header, length or checksum do not match is ignored and deleted.
// Entries are written to a temporary file that is renamed over the entry once complete. The folder is
// kept within a byte budget: the least recently used entries (by the modification time that a load
// refreshes, so the order survives a restart) go first. Thread-safe; more than one instance over one
// folder is safe for the files, but each keeps its own tally of the budget.
class PhotoDiskCache {
public:
    // A copy is looked up by the photo's path, its file size and modification time, a digest of its
    // first and last 64 KiB (a changed file misses, also one whose time was set back), and the box it
    // was fitted into.
    struct Key {
        QString path;
        std::int64_t size = -1;
        std::int64_t modifiedMs = 0;
        QSize box;
        QByteArray content;
    };

    static constexpr std::int64_t kDefaultBudget = std::int64_t(2) << 30;

    explicit PhotoDiskCache(QString folder, std::int64_t budgetBytes = kDefaultBudget);
    ~PhotoDiskCache();
    PhotoDiskCache(const PhotoDiskCache&) = delete;
    PhotoDiskCache& operator=(const PhotoDiskCache&) = delete;

    // The user's cache folder for display copies (under the XDG cache home).
    static QString defaultFolder();
    // The key of the file at `path` as it is now; size -1 when it does not exist or cannot be read.
    static Key keyFor(const QString& path, QSize box);

    // The copy stored for `key`; null when absent or damaged.
    QImage load(const Key& key) const;
    // Whether an entry for `key` is stored (without reading or checking it).
    bool contains(const Key& key) const;
    // Stores a display copy (converted to Format_RGB32 when it is another format); false when it could
    // not be written completely or is larger than the whole budget.
    bool store(const Key& key, const QImage& image);

    QString folder() const { return folder_; }
    std::int64_t budget() const { return budget_; }
    // Bytes of the entries this instance knows of.
    std::int64_t usedBytes() const;
    // The entry file that holds `key` (whether or not it exists).
    QString entryPath(const Key& key) const;

private:
    struct Entry {
        std::int64_t bytes = 0;
        std::int64_t lastUse = 0; // ms since the epoch
    };
    void scanLocked() const;
    std::int64_t nextUseLocked() const;
    void evictLocked(const std::string& keep);

    const QString folder_;
    const std::int64_t budget_;
    mutable std::mutex mutex_;
    mutable bool scanned_ = false;
    mutable std::unordered_map<std::string, Entry> entries_;
    mutable std::int64_t used_ = 0;
    mutable std::int64_t clock_ = 0;
};

} // namespace qr
