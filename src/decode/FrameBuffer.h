#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

namespace qr {

// A move-only, heap-allocated byte buffer whose contents start uninitialised: frame-sized buffers are
// filled completely by the decoders, so zeroing them first would only add a pass over memory.
// size() may be smaller than the allocation (a decoder that wrote less than its capacity); pages
// never written are never touched.
class FrameBuffer {
public:
    FrameBuffer() = default;
    FrameBuffer(FrameBuffer&&) noexcept = default;
    FrameBuffer& operator=(FrameBuffer&&) noexcept = default;
    FrameBuffer(const FrameBuffer&) = delete;
    FrameBuffer& operator=(const FrameBuffer&) = delete;

    // An uninitialised buffer of `size` bytes; an empty buffer when the allocation fails.
    static FrameBuffer allocate(std::size_t size);
    // Takes ownership of memory allocated with `new std::uint8_t[]`.
    static FrameBuffer adopt(std::uint8_t* data, std::size_t size);

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool isNull() const { return !data_; }
    std::span<std::uint8_t> span() { return {data_.get(), size_}; }
    std::span<const std::uint8_t> span() const { return {data_.get(), size_}; }

    // Shortens the visible size (never grows it); the allocation stays as it is.
    void truncate(std::size_t size);
    // Gives up ownership: the caller frees the memory with `delete[]`.
    std::uint8_t* release();

private:
    std::unique_ptr<std::uint8_t[]> data_;
    std::size_t size_ = 0;
};

} // namespace qr
