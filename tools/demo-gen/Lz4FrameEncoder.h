#pragma once

#include <QByteArray>

namespace qr {

// Writes the platform's framed LZ4 format: "bv41" blocks (or "bv4-" stored blocks where LZ4 does
// not help), then "bv4$".
class Lz4FrameEncoder {
public:
    static QByteArray encode(const QByteArray& data, int blockSize = 1 << 20);
};

} // namespace qr
