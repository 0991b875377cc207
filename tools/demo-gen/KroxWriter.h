#pragma once

#include <QByteArray>
#include <QList>

#include <cstdint>

namespace qr {

// Packs payloads into a `.krox` container as the phone application does.
class KroxWriter {
public:
    struct Entry {
        int type = 1; // 1 JPEG, 2 HEIC, 3 LZ4 RGB frame, 4 EXIF block, 5 movie
        QByteArray payload;
    };

    static QByteArray build(int setNumber, int firstPhoto, const QList<Entry>& entries,
                            std::uint8_t versionMajor = 10, std::uint8_t versionMinor = 16);
};

} // namespace qr
