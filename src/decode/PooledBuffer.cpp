#include "decode/PooledBuffer.h"

#include <utility>

namespace qr {

PooledBuffer::~PooledBuffer()
{
    FrameBufferPool::shared().give(data_, bytes_);
}

bool PooledBuffer::take(std::size_t bytes)
{
    auto& pool = FrameBufferPool::shared();
    pool.give(std::exchange(data_, nullptr), std::exchange(bytes_, 0));
    data_ = pool.take(bytes);
    bytes_ = data_ ? bytes : 0;
    return data_ != nullptr;
}

QImage PooledBuffer::toImage(int width, int height, bool displayP3)
{
    return FrameBufferPool::shared().wrap(std::exchange(data_, nullptr), std::exchange(bytes_, 0), width,
                                          height, displayP3);
}

} // namespace qr
