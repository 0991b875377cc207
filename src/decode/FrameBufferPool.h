#pragma once

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qr {

// Frame-sized buffers that are given back when their images go and taken again by the next
// conversion. A fresh 36-49 MB buffer costs about as much in page faults as converting into it, and
// the C library hands such buffers straight back to the system on free, so every frame of a set
// played again would fault its pages anew; idle buffers here stay mapped up to a budget.
// Buffers are whole mappings; a pool made with `hugePages` aligns them to 2 MiB and marks them for
// transparent huge pages: one huge page covers 512 small ones, which keeps the turned frame's strided
// stores out of the address translation misses, but a fault may then wait for the system to compact
// memory. Thread-safe.
class FrameBufferPool {
public:
    static constexpr std::size_t kDefaultIdleBudget = std::size_t(512) << 20;

    explicit FrameBufferPool(std::size_t idleBudget = kDefaultIdleBudget, bool hugePages = true);
    ~FrameBufferPool();
    FrameBufferPool(const FrameBufferPool&) = delete;
    FrameBufferPool& operator=(const FrameBufferPool&) = delete;

    // The pool of the process's frame conversions; never destroyed, so that an image released late
    // at exit can still give its buffer back.
    static FrameBufferPool& shared();

    // A buffer of at least `bytes` bytes, idle or new (contents undefined); null when the system has
    // no memory for it.
    std::uint8_t* take(std::size_t bytes);
    // Returns a buffer from take(bytes) of this pool. Kept idle while the budget allows, the longest
    // idle buffers going first; freed otherwise.
    void give(std::uint8_t* data, std::size_t bytes);

    // An image over a buffer from take(bytes), Format_RGB32 in the Display P3 colour space (or none)
    // with rows of width x 4 bytes, that gives the buffer back when its last copy goes; null (and the
    // buffer given back) when QImage refuses the size.
    QImage wrap(std::uint8_t* data, std::size_t bytes, int width, int height, bool displayP3 = true);

    // An RGB32 image of width x height without a colour space. From 2 MiB up its buffer is a mapping
    // of its own on huge pages, unmapped when the image's last copy goes: a fresh camera-size image
    // otherwise costs thousands of small page faults, more than decoding into it on a virtual
    // machine. Smaller ones are Qt's own. Null when the system or QImage refuses the size.
    static QImage largeImage(int width, int height);

    std::size_t idleBytes() const;
    std::size_t idleCount() const;
    // Frees every idle buffer.
    void trim();

    // Allocation and release without the pool, as the pool does them: for the benchmarks.
    static std::uint8_t* map(std::size_t bytes, bool hugePages);
    static void unmap(std::uint8_t* data, std::size_t bytes, bool hugePages);

private:
    struct Idle {
        std::uint8_t* data;
        std::size_t bytes;
    };
    const std::size_t budget_;
    const bool hugePages_;
    mutable std::mutex mutex_;
    std::vector<Idle> idle_; // oldest first
    std::size_t idleBytes_ = 0;
};

} // namespace qr
