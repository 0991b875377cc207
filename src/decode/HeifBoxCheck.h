#pragma once

#include <cstdint>
#include <span>

namespace qr {

// A look at a HEIF file's box structure before it reaches libheif. libheif reads an item reference
// box's count of references as written, past the end of the box when the count is larger than what
// the box holds, and then takes whatever follows for item ids. A file whose 'meta' boxes do not nest
// inside their parents, or whose references do not fit their box, is not decoded.
class HeifBoxCheck {
public:
    // True when the file has a 'meta' box, every box in it lies within its parent and every item
    // reference in its 'iref' fits its box.
    static bool wellFormed(std::span<const std::uint8_t> file);
};

} // namespace qr
