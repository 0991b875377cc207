#include "PlatformLz4Encoder.h"

#include <lz4.h>

#include <algorithm>

namespace qr {

namespace {

void putLe32(QByteArray& out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
}

} // namespace

QByteArray PlatformLz4Encoder::encode(QByteArrayView raw)
{
    QByteArray out;
    out.reserve(raw.size() / 2 + 64);
    QByteArray block(LZ4_compressBound(kBlockBytes), Qt::Uninitialized);
    for (qsizetype at = 0; at < raw.size(); at += kBlockBytes) {
        const int n = int(std::min<qsizetype>(kBlockBytes, raw.size() - at));
        const int packed = LZ4_compress_default(raw.data() + at, block.data(), n, int(block.size()));
        if (packed <= 0 || packed >= n) {
            out.append("bv4-", 4);
            putLe32(out, quint32(n));
            out.append(raw.data() + at, n);
            continue;
        }
        out.append("bv41", 4);
        putLe32(out, quint32(n));
        putLe32(out, quint32(packed));
        out.append(block.constData(), packed);
    }
    out.append("bv4$", 4);
    return out;
}

} // namespace qr
