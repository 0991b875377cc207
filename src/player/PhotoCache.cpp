#include "player/PhotoCache.h"

#include <QDateTime>
#include <QFileInfo>

namespace qr {

PhotoCache::Stamp PhotoCache::stampOf(const QString& path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return {};
    return {info.size(), info.lastModified().toMSecsSinceEpoch(),
            info.metadataChangeTime().toMSecsSinceEpoch()};
}

std::int64_t PhotoCache::costOf(const PhotoImage& photo)
{
    if (photo.isNull())
        return 0;
    std::int64_t cost = photo.displayImage().sizeInBytes();
    if (photo.kind() == PhotoImage::Kind::Bitmap &&
        photo.fullImage().constBits() != photo.displayImage().constBits())
        cost += photo.fullImage().sizeInBytes();
    return cost;
}

PhotoImage PhotoCache::find(const QString& path, QSize box, const Stamp& stamp)
{
    const auto it = entries_.find(path);
    if (it == entries_.end())
        return {};
    if (!(it->stamp == stamp) || stamp.size < 0) {
        bytes_ -= it->cost;
        entries_.erase(it);
        return {};
    }
    if (it->box != box)
        return {};
    it->lastUse = ++clock_;
    return it->photo;
}

void PhotoCache::insert(const QString& path, QSize box, const Stamp& stamp, const PhotoImage& photo)
{
    if (photo.isNull() || stamp.size < 0)
        return;
    const std::int64_t cost = costOf(photo);
    if (cost > budget())
        return;
    const auto old = entries_.find(path);
    if (old != entries_.end()) {
        bytes_ -= old->cost;
        entries_.erase(old);
    }
    entries_.insert(path, Entry{box, stamp, photo, cost, ++clock_});
    bytes_ += cost;
    evict(path);
}

void PhotoCache::setReservedBytes(std::int64_t bytes)
{
    reserved_ = std::max<std::int64_t>(0, bytes);
    evict(QString());
}

void PhotoCache::clear()
{
    entries_.clear();
    bytes_ = 0;
}

std::int64_t PhotoCache::unheldBytes() const
{
    std::int64_t bytes = 0;
    for (const Entry& entry : entries_)
        bytes += entry.photo.isShared() ? 0 : entry.cost;
    return bytes;
}

void PhotoCache::evict(const QString& fresh)
{
    const auto held = [&](auto it) {
        return it.key() != fresh && it->photo.isShared();
    };
    std::int64_t unheld = 0;
    for (auto it = entries_.begin(); it != entries_.end(); ++it)
        unheld += held(it) ? 0 : it->cost;
    while (unheld > budget()) {
        auto oldest = entries_.end();
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (!held(it) && (oldest == entries_.end() || it->lastUse < oldest->lastUse))
                oldest = it;
        }
        if (oldest == entries_.end())
            return;
        unheld -= oldest->cost;
        bytes_ -= oldest->cost;
        entries_.erase(oldest);
    }
}

} // namespace qr
