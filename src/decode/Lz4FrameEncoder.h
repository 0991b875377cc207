#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace qr {

// Writes the phone platform's framed LZ4 stream (the format Lz4FrameDecoder reads), as a capture
// phone compresses its frames and `.rgb2` files: "bv41" blocks compressed independently, "bv4-"
// stored blocks where LZ4 does not make a block smaller, then the "bv4$" end marker.
class Lz4FrameEncoder {
public:
    static constexpr int kBlockBytes = 1024 * 1024;

    // An empty input gives the end marker alone; a block size below 1 gives an empty result.
    static QByteArray encode(QByteArrayView raw, int blockBytes = kBlockBytes);
};

} // namespace qr
