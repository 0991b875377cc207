#pragma once

#include "player/PhotoImage.h"

#include <QHash>
#include <QSize>
#include <QString>

#include <algorithm>
#include <cstdint>

namespace qr {

// Prepared photos kept across set starts, so that a set that plays again (a single set wraps onto
// itself; FIFO and LIFO playlists come back to their first set) is not decoded again. An entry is
// valid only for the same display size and the same file (byte count and modification time); one
// entry per file. The photos nobody else holds are bounded by a byte budget, least recently used first
// out; a photo that is also held elsewhere (a slot of the set playing now) neither counts nor is
// evicted, since dropping it would free nothing. Main thread only.
class PhotoCache {
public:
    // What identifies a file's content cheaply. The change time is the system's own: a rewrite that
    // sets the modification time back still changes it.
    struct Stamp {
        std::int64_t size = -1;
        std::int64_t modifiedMs = 0;
        std::int64_t changedMs = 0;
        bool operator==(const Stamp&) const = default;
    };

    explicit PhotoCache(std::int64_t budgetBytes) : budget_(budgetBytes) {}

    static Stamp stampOf(const QString& path);
    // Bytes a photo holds in memory (its bitmaps).
    static std::int64_t costOf(const PhotoImage& photo);

    // The entry of `path` when it was made for `box` from the file as it is now. An entry of the file
    // as it was before is dropped; one of another size is kept.
    PhotoImage find(const QString& path, QSize box, const Stamp& stamp);
    void insert(const QString& path, QSize box, const Stamp& stamp, const PhotoImage& photo);
    void clear();
    std::int64_t bytes() const { return bytes_; }
    // The budget left to the cache beside the bytes reserved for what is kept outside it.
    std::int64_t budget() const { return std::max<std::int64_t>(0, budget_ - reserved_); }
    // Bytes kept outside the cache that share its budget (a larger copy for a zoomed display); the
    // cache gives way to them at once.
    void setReservedBytes(std::int64_t bytes);
    std::int64_t reservedBytes() const { return reserved_; }
    // Bytes of the photos only the cache holds: what the budget bounds.
    std::int64_t unheldBytes() const;
    int count() const { return static_cast<int>(entries_.size()); }

private:
    struct Entry {
        QSize box;
        Stamp stamp;
        PhotoImage photo;
        std::int64_t cost = 0;
        std::uint64_t lastUse = 0;
    };
    // `fresh` is the entry just inserted: whoever handed it over still holds it, but it counts.
    void evict(const QString& fresh);

    QHash<QString, Entry> entries_;
    std::int64_t budget_;
    std::int64_t reserved_ = 0;
    std::int64_t bytes_ = 0;
    std::uint64_t clock_ = 0;
};

} // namespace qr
