#include "decode/FrameBuffer.h"

#include <new>

namespace qr {

FrameBuffer FrameBuffer::allocate(std::size_t size)
{
    FrameBuffer buffer;
    // Default-initialised: no pass over the memory before the decoder writes it.
    buffer.data_.reset(new (std::nothrow) std::uint8_t[size == 0 ? 1 : size]);
    if (buffer.data_)
        buffer.size_ = size;
    return buffer;
}

FrameBuffer FrameBuffer::adopt(std::uint8_t* data, std::size_t size)
{
    FrameBuffer buffer;
    buffer.data_.reset(data);
    buffer.size_ = data ? size : 0;
    return buffer;
}

void FrameBuffer::truncate(std::size_t size)
{
    if (size < size_)
        size_ = size;
}

std::uint8_t* FrameBuffer::release()
{
    size_ = 0;
    return data_.release();
}

} // namespace qr
