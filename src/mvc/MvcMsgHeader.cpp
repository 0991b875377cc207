#include "mvc/MvcMsgHeader.h"

namespace qr {

namespace {

std::uint16_t be16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::uint32_t be32(const std::uint8_t* p)
{
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
           std::uint32_t{p[3]};
}

void putBe16(std::uint8_t* p, std::uint16_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}

void putBe32(std::uint8_t* p, std::uint32_t v)
{
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

} // namespace

MvcMsgHeader MvcMsgHeader::parse(std::span<const std::uint8_t, kSize> bytes)
{
    const std::uint8_t* p = bytes.data();
    MvcMsgHeader h;
    h.ver = p[0];
    h.posOrient = p[1];
    h.cntr = be16(p + 2);
    h.mvcLen = be32(p + 4);
    h.width = be16(p + 8);
    h.height = be16(p + 10);
    h.imageCaptureWidth = be16(p + 12);
    h.imageCaptureHeight = be16(p + 14);
    return h;
}

std::array<std::uint8_t, MvcMsgHeader::kSize> MvcMsgHeader::serialize() const
{
    std::array<std::uint8_t, kSize> out{};
    out[0] = ver;
    out[1] = posOrient;
    putBe16(out.data() + 2, cntr);
    putBe32(out.data() + 4, mvcLen);
    putBe16(out.data() + 8, width);
    putBe16(out.data() + 10, height);
    putBe16(out.data() + 12, imageCaptureWidth);
    putBe16(out.data() + 14, imageCaptureHeight);
    return out;
}

} // namespace qr
