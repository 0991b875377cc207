#include "mvc/MvcMsgHeader.h"

#include <QtEndian>

namespace qr {

MvcMsgHeader MvcMsgHeader::parse(std::span<const std::uint8_t, kSize> bytes)
{
    const std::uint8_t* p = bytes.data();
    MvcMsgHeader h;
    h.ver = p[0];
    h.posOrient = p[1];
    h.cntr = qFromBigEndian<std::uint16_t>(p + 2);
    h.mvcLen = qFromBigEndian<std::uint32_t>(p + 4);
    h.width = qFromBigEndian<std::uint16_t>(p + 8);
    h.height = qFromBigEndian<std::uint16_t>(p + 10);
    h.imageCaptureWidth = qFromBigEndian<std::uint16_t>(p + 12);
    h.imageCaptureHeight = qFromBigEndian<std::uint16_t>(p + 14);
    return h;
}

std::array<std::uint8_t, MvcMsgHeader::kSize> MvcMsgHeader::serialize() const
{
    std::array<std::uint8_t, kSize> out{};
    out[0] = ver;
    out[1] = posOrient;
    qToBigEndian<std::uint16_t>(cntr, out.data() + 2);
    qToBigEndian<std::uint32_t>(mvcLen, out.data() + 4);
    qToBigEndian<std::uint16_t>(width, out.data() + 8);
    qToBigEndian<std::uint16_t>(height, out.data() + 10);
    qToBigEndian<std::uint16_t>(imageCaptureWidth, out.data() + 12);
    qToBigEndian<std::uint16_t>(imageCaptureHeight, out.data() + 14);
    return out;
}

} // namespace qr
