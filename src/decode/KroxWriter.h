#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace qr {

// Packs payloads into a `.krox` container as the phone application does (the format KroxDecoder
// reads): a 12-byte header (version, set number, entry count, first photo number, payload bytes),
// one big-endian table entry per payload (type in the top 4 bits, length in the low 28), then the
// payloads, each followed by (length mod 4) zero bytes.
class KroxWriter {
public:
    struct Entry {
        int type = 1; // 1 JPEG, 2 HEIC, 3 LZ4 RGB frame, 4 EXIF block, 5 movie
        QByteArray payload;
    };

    // Offsets of the header fields a reader checks.
    static constexpr int kCountOffset = 4;
    static constexpr int kPayloadBytesOffset = 8;
    static constexpr int kTableOffset = 12;

    static QByteArray build(int setNumber, int firstPhoto, const QList<Entry>& entries,
                            std::uint8_t versionMajor = 10, std::uint8_t versionMinor = 16);

    // Writes `v` big-endian at `offset` of `out` (which must hold offset + 4 bytes).
    static void putBe32(QByteArray& out, qsizetype offset, std::uint32_t v);
    // A table entry: `type` in the top 4 bits, `length` in the low 28.
    static std::uint32_t tableEntry(int type, std::uint32_t length);
};

} // namespace qr
