#pragma once

#include <array>

namespace qr {

// A rectangle in points inside render view 4, origin at its bottom left.
struct MvcStripRect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;
    bool operator==(const MvcStripRect&) const = default;
};

// Where the control strip's items go inside render view 4: for display positions 1 to 3 (left to
// right, centred at a quarter, half and three quarters of its width) a state indicator, a frame-rate
// label and a shutter button, each sized for the screen's scale factor.
struct MvcControlStripLayout {
    std::array<MvcStripRect, 3> indicators;
    std::array<MvcStripRect, 3> speedLabels;
    std::array<MvcStripRect, 3> shutterButtons;
    double indicatorCornerRadius = 0;
    double buttonBorderWidth = 0;
    double buttonCornerRadius = 0;
    double buttonImageSide = 0;

    static constexpr double kIndicatorBorderWidth = 1.0;
    static constexpr double kLabelFontPoints = 50.0;

    static MvcControlStripLayout compute(double renderView4Width, double renderView4Height,
                                         float screenScaleFactor);
};

} // namespace qr
