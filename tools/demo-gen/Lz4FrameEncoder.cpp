#include "Lz4FrameEncoder.h"

#include <lz4.h>

#include <algorithm>
#include <cstdint>

namespace qr {

namespace {
void appendLe32(QByteArray& out, std::uint32_t v)
{
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff), char((v >> 24) & 0xff)};
    out.append(b, 4);
}
} // namespace

QByteArray Lz4FrameEncoder::encode(const QByteArray& data, int blockSize)
{
    QByteArray out;
    QByteArray scratch(LZ4_compressBound(blockSize), Qt::Uninitialized);
    for (qsizetype pos = 0; pos < data.size(); pos += blockSize) {
        const int n = static_cast<int>(std::min<qsizetype>(blockSize, data.size() - pos));
        const int packed =
            LZ4_compress_default(data.constData() + pos, scratch.data(), n, int(scratch.size()));
        if (packed > 0 && packed < n) {
            out.append("bv41", 4);
            appendLe32(out, std::uint32_t(n));
            appendLe32(out, std::uint32_t(packed));
            out.append(scratch.constData(), packed);
        } else {
            out.append("bv4-", 4);
            appendLe32(out, std::uint32_t(n));
            out.append(data.constData() + pos, n);
        }
    }
    out.append("bv4$", 4);
    return out;
}

} // namespace qr
