#pragma once

#include <cstdint>

namespace qr {

// What the window system reports about the main screen, in points.
struct ScreenInfo {
    float scaleFactor = 1.0f;
    double frameWidth = 0, frameHeight = 0;
    double visibleWidth = 0, visibleHeight = 0;
    double menuBarHeight = 0; // as reported; 0 when the platform reports none
};

// Screen metrics and the main display size, in points (origin bottom-left).
struct ScreenMetrics {
    float screenScaleFactor = 1.0f;
    int32_t screenWidth = 0, screenHeight = 0;
    int32_t maxScreenHeight = 0;
    float outHeight = 0, outWidth = 0;
    float verticalOffset = 0;
};

class ScreenMetricsCalc {
public:
    // The first layout: usable window area, 16:9 height cap, menu bar, and a 3:4 main display
    // whose height is a multiple of 4.
    static ScreenMetrics compute(const ScreenInfo& screen);
    // Steps the display height down until its integer part is a multiple of 4.
    static float reduceToMultipleOf4(float height);
};

} // namespace qr
