#include "ui/ThumbnailFit.h"

#include <algorithm>
#include <cmath>

namespace qr {

std::optional<ThumbnailPlan> ThumbnailFit::plan(double sw, double sh, double column, double containerHeight)
{
    ThumbnailPlan p;
    p.targetWidth = column;
    p.targetHeight = containerHeight / 3.0;
    if (!(sw > 0.0) || !(sh > 0.0) || !(p.targetWidth > 0.0) || !(p.targetHeight > 0.0))
        return std::nullopt;
    const float a = static_cast<float>(p.targetHeight / sh);
    const float b = static_cast<float>(p.targetWidth / sw);
    if (a < b) {
        p.sourceWidth = sw;
        p.sourceHeight = std::floor(p.targetHeight / b);
    } else {
        p.sourceWidth = std::floor(p.targetWidth / a);
        p.sourceHeight = sh;
    }
    // Float ratios can overshoot by a pixel when source and target are nearly the same shape.
    p.sourceWidth = std::clamp(p.sourceWidth, 1.0, sw);
    p.sourceHeight = std::clamp(p.sourceHeight, 1.0, sh);
    p.sourceX = std::floor((sw - p.sourceWidth) * 0.5);
    p.sourceY = std::floor((sh - p.sourceHeight) * 0.5);
    return p;
}

} // namespace qr
