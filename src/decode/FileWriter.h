#pragma once

#include <QString>

#include <cstdint>
#include <span>

namespace qr {

// Writes `bytes` as the whole content of `path`: into a new hidden file in the same folder first,
// then renamed over `path`. An existing file is therefore replaced only by a completely written
// one, and a failed write leaves nothing behind. False when any step failed.
bool writeFileReplacing(const QString& path, std::span<const std::uint8_t> bytes);

} // namespace qr
