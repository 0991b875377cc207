#pragma once

#include "ui/PointRect.h"

#include <array>
#include <cstdint>

namespace qr {

// Frames of the four display panels (render views 1 to 4) in the container view's points.
struct PanelFrames {
    PointRect container;                 // the container view's frame
    std::array<PointRect, 4> renderView; // index 0 is render view 1
    float widthOfTheRightColumn = 0;     // media player only
    PointRect frame2;                    // MVC modes 2 and 3: size of render views 3 and 4
};

// Where the panels and the controller bar go, for the media player and the four MVC tilings.
class DisplayLayout {
public:
    // One large 3:4 display centred in the left area of width 2W, three panels stacked on the
    // right. W x H is the main display's size, v the offset that made H a multiple of 4.
    static PanelFrames mediaPlayer(float outWidth, float outHeight, float verticalOffset,
                                   int32_t screenWidth);
    // MVC tilings 0 to 3 over the whole usable area; an unknown mode tiles as mode 2.
    static PanelFrames mvc(int32_t presentationMode, int32_t screenWidth, int32_t screenHeight,
                           float verticalOffset);

    // Controller bar: width by scale factor, spacing of its buttons, and its origin centred under
    // the main display 30 points above the container's bottom.
    static float controllerBarWidth(float screenScaleFactor);
    static float controllerBarShiftAdjust(float screenScaleFactor);
    static PointRect controllerBarFrame(float screenScaleFactor, double renderView1Width);
};

} // namespace qr
