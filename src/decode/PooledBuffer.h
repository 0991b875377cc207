#pragma once

#include "decode/FrameBufferPool.h"

#include <QImage>

#include <cstddef>
#include <cstdint>
#include <span>

namespace qr {

// A buffer of the shared frame pool that goes back to it when this goes, unless an image took it.
// Reused buffers are already mapped: filling them costs no page faults, and they start on a page.
class PooledBuffer {
public:
    PooledBuffer() = default;
    PooledBuffer(const PooledBuffer&) = delete;
    PooledBuffer& operator=(const PooledBuffer&) = delete;
    ~PooledBuffer();

    // Holds a buffer of at least `bytes` bytes (contents undefined), giving back the one held;
    // false, holding none, when the system has no memory for it.
    bool take(std::size_t bytes);
    // Keeps the buffer held when it is at least `bytes` long; else takes one.
    bool reserve(std::size_t bytes) { return (data_ && bytes_ >= bytes) || take(bytes); }

    std::uint8_t* data() const { return data_; }
    std::size_t size() const { return bytes_; }
    std::span<std::uint8_t> span() const { return {data_, bytes_}; }

    // Hands the buffer to an image of width x height (see FrameBufferPool::wrap); holds none after.
    QImage toImage(int width, int height, bool displayP3 = true);

private:
    std::uint8_t* data_ = nullptr;
    std::size_t bytes_ = 0;
};

} // namespace qr
