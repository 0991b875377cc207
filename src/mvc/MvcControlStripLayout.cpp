#include "mvc/MvcControlStripLayout.h"

namespace qr {

MvcControlStripLayout MvcControlStripLayout::compute(double w4, double h4, float screenScaleFactor)
{
    const bool retina = screenScaleFactor == 2.0F;
    const double d = retina ? 9.0 : 18.0;  // indicator side
    const double b = retina ? 36.0 : 72.0; // button side
    const double s = retina ? 12.0 : 24.0; // button image side
    constexpr double kLabelW = 60.0;
    constexpr double kLabelH = 30.0;
    constexpr std::array<double, 3> f{0.25, 0.5, 0.75};
    MvcControlStripLayout l;
    for (std::size_t n = 0; n < 3; ++n) {
        l.indicators[n] = {f[n] * w4 - d / 2, 0.625 * h4 - d / 2, d, d};
        l.speedLabels[n] = {f[n] * w4 - kLabelW / 2, 0.6875 * h4 - kLabelH / 2, kLabelW, kLabelH};
        l.shutterButtons[n] = {f[n] * w4 - b / 2, 0.5 * h4 - b / 2, b, b};
    }
    l.indicatorCornerRadius = d / 2;
    l.buttonBorderWidth = retina ? 2.5 : 5.0;
    l.buttonCornerRadius = b / 2;
    l.buttonImageSide = s;
    return l;
}

} // namespace qr
