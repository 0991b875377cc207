#include "decode/FrameBufferPool.h"

#include <QColorSpace>

#include <sys/mman.h>

#include <algorithm>
#include <limits>

namespace qr {

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

std::size_t mappedSize(std::size_t bytes, bool hugePages)
{
    const std::size_t unit = hugePages ? kHugePage : 4096;
    return (std::max<std::size_t>(bytes, 1) + unit - 1) / unit * unit;
}

struct Lease {
    FrameBufferPool* pool;
    std::uint8_t* data;
    std::size_t bytes;
};

void giveBack(void* info)
{
    auto* lease = static_cast<Lease*>(info);
    lease->pool->give(lease->data, lease->bytes);
    delete lease;
}

} // namespace

FrameBufferPool::FrameBufferPool(std::size_t idleBudget, bool hugePages)
    : budget_(idleBudget), hugePages_(hugePages)
{}

FrameBufferPool::~FrameBufferPool()
{
    trim();
}

FrameBufferPool& FrameBufferPool::shared()
{
    // Small pages: where the system compacts memory to make huge pages on a fault (its defrag
    // setting "madvise", Debian's default), a set's first play stalled on it, and its frames came
    // out at a third of the pace with small pages.
    static auto* pool = new FrameBufferPool(kDefaultIdleBudget, false);
    return *pool;
}

std::uint8_t* FrameBufferPool::map(std::size_t bytes, bool hugePages)
{
    const std::size_t size = mappedSize(bytes, hugePages);
    if (!hugePages) {
        void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return p == MAP_FAILED ? nullptr : static_cast<std::uint8_t*>(p);
    }
    // Over-map by one huge page and cut the ends off so that the buffer starts on a huge page.
    void* p = mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        return nullptr;
    auto* base = static_cast<std::uint8_t*>(p);
    const auto address = reinterpret_cast<std::uintptr_t>(base);
    const std::size_t head = (kHugePage - address % kHugePage) % kHugePage;
    if (head > 0)
        munmap(base, head);
    munmap(base + head + size, kHugePage - head);
    std::uint8_t* data = base + head;
    madvise(data, size, MADV_HUGEPAGE);
    return data;
}

void FrameBufferPool::unmap(std::uint8_t* data, std::size_t bytes, bool hugePages)
{
    if (data)
        munmap(data, mappedSize(bytes, hugePages));
}

std::uint8_t* FrameBufferPool::take(std::size_t bytes)
{
    {
        const std::lock_guard lock(mutex_);
        // The most recently given buffer of the size first: its pages are the likeliest still cached.
        for (auto it = idle_.rbegin(); it != idle_.rend(); ++it) {
            if (it->bytes == bytes) {
                std::uint8_t* data = it->data;
                idleBytes_ -= it->bytes;
                idle_.erase(std::next(it).base());
                return data;
            }
        }
    }
    return map(bytes, hugePages_);
}

void FrameBufferPool::give(std::uint8_t* data, std::size_t bytes)
{
    if (!data)
        return;
    std::vector<Idle> freed;
    {
        const std::lock_guard lock(mutex_);
        if (bytes <= budget_) {
            while (idleBytes_ + bytes > budget_ && !idle_.empty()) {
                freed.push_back(idle_.front());
                idleBytes_ -= idle_.front().bytes;
                idle_.erase(idle_.begin());
            }
            idle_.push_back({data, bytes});
            idleBytes_ += bytes;
        } else {
            freed.push_back({data, bytes});
        }
    }
    for (const Idle& b : freed)
        unmap(b.data, b.bytes, hugePages_);
}

QImage FrameBufferPool::largeImage(int width, int height)
{
    if (width <= 0 || height <= 0)
        return {};
    const std::uint64_t bytes = std::uint64_t(width) * std::uint64_t(height) * 4;
    if (bytes < kHugePage)
        return QImage(width, height, QImage::Format_RGB32);
    if (bytes > std::numeric_limits<std::size_t>::max() / 2)
        return {};
    // Nothing kept idle: each image's mapping goes with it. Never destroyed, as shared().
    static auto* const unpooled = new FrameBufferPool(0, true);
    return unpooled->wrap(unpooled->take(std::size_t(bytes)), std::size_t(bytes), width, height, false);
}

QImage FrameBufferPool::wrap(std::uint8_t* data, std::size_t bytes, int width, int height, bool displayP3)
{
    if (!data)
        return {};
    if (width <= 0 || height <= 0 || std::uint64_t(width) * std::uint64_t(height) * 4 > bytes) {
        give(data, bytes);
        return {};
    }
    auto* lease = new Lease{this, data, bytes};
    QImage image(data, width, height, static_cast<qsizetype>(width) * 4, QImage::Format_RGB32, giveBack,
                 lease);
    if (image.isNull()) {
        giveBack(lease);
        return {};
    }
    static const QColorSpace p3(QColorSpace::DisplayP3);
    if (displayP3)
        image.setColorSpace(p3);
    return image;
}

std::size_t FrameBufferPool::idleBytes() const
{
    const std::lock_guard lock(mutex_);
    return idleBytes_;
}

std::size_t FrameBufferPool::idleCount() const
{
    const std::lock_guard lock(mutex_);
    return idle_.size();
}

void FrameBufferPool::trim()
{
    std::vector<Idle> freed;
    {
        const std::lock_guard lock(mutex_);
        freed.swap(idle_);
        idleBytes_ = 0;
    }
    for (const Idle& b : freed)
        unmap(b.data, b.bytes, hugePages_);
}

} // namespace qr
