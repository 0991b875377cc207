#pragma once

#include <cstdint>
#include <optional>

namespace qr {

// The window-resize computation: from a proposed window size to the new main display size and the
// size the window takes instead.
struct ResizeResult {
    float outHeight = 0, outWidth = 0;
    float verticalOffset = 0;
    int32_t screenWidth = 0;
    std::optional<int32_t> screenHeight; // set only when a standard width forces the height
    bool standardWidth = false;
    double width = 0, height = 0; // the window size to apply
};

class ResizeCalc {
public:
    // proposedWidth x proposedHeight in points; menuBarHeight as reported (0 stays 0 here).
    static ResizeResult compute(double proposedWidth, double proposedHeight, float screenScaleFactor,
                                double menuBarHeight);
    // Widths in pixels of the common displays, whose heights are used without the menu bar.
    static bool isStandardWidth(double pixels);
};

} // namespace qr
