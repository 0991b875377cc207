#pragma once

#include "ui/PointRect.h"

#include <optional>

namespace qr {

// Fitting an image into a right-column panel: the target is filled completely and the source is
// cropped symmetrically.
struct ThumbnailPlan {
    double targetWidth = 0, targetHeight = 0;
    // Part of the source to draw, in source pixels, origin at the top left of the image (the
    // crop is symmetric, so the vertical origin is the same either way).
    double sourceX = 0, sourceY = 0, sourceWidth = 0, sourceHeight = 0;
};

class ThumbnailFit {
public:
    // Target: the right column's width by a third of the container's height. Nothing for an
    // empty source or target.
    static std::optional<ThumbnailPlan> plan(double sourceWidth, double sourceHeight,
                                             double widthOfTheRightColumn, double containerHeight);
};

} // namespace qr
