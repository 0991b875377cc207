#include "ui/ScreenMetrics.h"

namespace qr {

float ScreenMetricsCalc::reduceToMultipleOf4(float height)
{
    // Bounded by the float's precision: a step that no longer changes the value ends the loop.
    while (height > 0.0f && height < 16777216.0f && static_cast<int32_t>(height) % 4 != 0)
        height -= 1.0f;
    return height;
}

ScreenMetrics ScreenMetricsCalc::compute(const ScreenInfo& s)
{
    ScreenMetrics m;
    m.screenScaleFactor = s.scaleFactor;
    m.screenWidth = static_cast<int32_t>(s.frameWidth);
    m.screenHeight = static_cast<int32_t>(s.frameHeight);
    m.maxScreenHeight = static_cast<int32_t>(static_cast<float>(m.screenWidth) * 0.5625f);
    m.screenWidth = static_cast<int32_t>(s.visibleWidth);
    m.screenHeight = static_cast<int32_t>(s.visibleHeight);
    if (m.screenHeight > m.maxScreenHeight)
        m.screenHeight = m.maxScreenHeight;
    const double menuBar = s.menuBarHeight == 0.0 ? 22.0 : s.menuBarHeight;
    m.screenHeight -= static_cast<int32_t>(menuBar);

    const float frameH = static_cast<float>(s.frameHeight);
    const float sf = m.screenScaleFactor;
    float h0 = frameH > 0.0f && sf > 0.0f ? sf * static_cast<float>(m.screenHeight) / frameH * (frameH / sf)
                                          : static_cast<float>(m.screenHeight);
    m.outHeight = reduceToMultipleOf4(h0);
    m.outWidth = static_cast<float>(static_cast<int32_t>(m.outHeight * 0.75f));
    m.verticalOffset = h0 - m.outHeight;
    return m;
}

} // namespace qr
