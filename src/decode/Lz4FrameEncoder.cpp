#include "decode/Lz4FrameEncoder.h"

#include <lz4.h>

#include <algorithm>
#include <cstdint>

namespace qr {

namespace {

void appendLe32(QByteArray& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray Lz4FrameEncoder::encode(QByteArrayView raw, int blockBytes)
{
    if (blockBytes < 1 || blockBytes > LZ4_MAX_INPUT_SIZE)
        return {};
    QByteArray out;
    out.reserve(raw.size() / 2 + 64);
    QByteArray block(LZ4_compressBound(blockBytes), Qt::Uninitialized);
    for (qsizetype at = 0; at < raw.size(); at += blockBytes) {
        const int n = int(std::min<qsizetype>(blockBytes, raw.size() - at));
        const int packed = LZ4_compress_default(raw.data() + at, block.data(), n, int(block.size()));
        if (packed <= 0 || packed >= n) {
            out.append("bv4-", 4);
            appendLe32(out, std::uint32_t(n));
            out.append(raw.data() + at, n);
            continue;
        }
        out.append("bv41", 4);
        appendLe32(out, std::uint32_t(n));
        appendLe32(out, std::uint32_t(packed));
        out.append(block.constData(), packed);
    }
    out.append("bv4$", 4);
    return out;
}

} // namespace qr
