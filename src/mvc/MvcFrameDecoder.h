#pragma once

#include "decode/FrameBuffer.h"
#include "mvc/MvcMsgHeader.h"

#include <QByteArrayView>
#include <QImage>

namespace qr {

// Turns one message payload into the image to show: platform LZ4 -> packed RGB of the header's
// width x height -> BGRA -> a quarter turn clockwise when the device orientation is 0. A payload
// that does not decode to exactly width x height x 3 bytes, or a frame larger than the largest
// camera frame, gives a null image. Not thread-safe per instance: one decoder per connection slot;
// its scratch buffers are reused from frame to frame.
class MvcFrameDecoder {
public:
    QImage decode(const MvcMsgHeader& header, QByteArrayView payload);

private:
    FrameBuffer m_rgb;
    FrameBuffer m_bgra;
};

} // namespace qr
