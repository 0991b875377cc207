#pragma once

#include <QByteArray>
#include <QByteArrayView>

namespace qr {

// Writes the phone platform's framed LZ4 stream ("bv41" blocks, "bv4$" end marker), as a capture
// phone compresses its frames. Blocks are compressed independently.
class PlatformLz4Encoder {
public:
    static constexpr int kBlockBytes = 1024 * 1024;
    static QByteArray encode(QByteArrayView raw);
};

} // namespace qr
