#include "ui/DisplayLayout.h"

namespace qr {

PanelFrames DisplayLayout::mediaPlayer(float outWidth, float outHeight, float verticalOffset,
                                       int32_t screenWidth)
{
    PanelFrames f;
    const double w = outWidth;
    const double h = outHeight;
    const double v = verticalOffset * 0.5f;
    const double third = h / 3.0;
    const float column = static_cast<float>(screenWidth) - 2.0f * outWidth;
    f.container = {0, 0, w, h};
    f.renderView[0] = {w * 0.5, v, w, h};
    f.renderView[1] = {2.0 * w, 2.0 * third + v, column, third};
    f.renderView[2] = {2.0 * w, third + v, column, third};
    f.renderView[3] = {2.0 * w, v, column, third};
    f.widthOfTheRightColumn = column;
    return f;
}

PanelFrames DisplayLayout::mvc(int32_t mode, int32_t screenWidth, int32_t screenHeight, float verticalOffset)
{
    PanelFrames f;
    const double cw = screenWidth;
    const double ch = screenHeight;
    const double v = verticalOffset * 0.5f;
    f.container = {0, 0, cw, ch};
    const PointRect column{0, 0, cw / 4.0, ch};
    const PointRect quadrant{0, 0, cw / 2.0, ch / 2.0};
    const auto at = [v](const PointRect& size, double x, double y) {
        return PointRect{x, y + v, size.width, size.height};
    };
    switch (mode) {
    case 0:
        f.renderView = {at(column, 0, 0), at(column, cw / 4.0, 0), at(column, cw / 2.0, 0),
                        at(column, 3.0 * cw / 4.0, 0)};
        break;
    case 1:
        f.renderView = {at(quadrant, 0, ch / 2.0), at(quadrant, cw / 2.0, ch / 2.0), at(quadrant, 0, 0),
                        at(quadrant, cw / 2.0, 0)};
        break;
    case 3:
        f.frame2 = column;
        f.renderView = {at(quadrant, 0, ch / 2.0), at(quadrant, 0, 0), at(f.frame2, cw / 2.0, 0),
                        at(f.frame2, 3.0 * cw / 4.0, 0)};
        break;
    default:
        f.frame2 = quadrant;
        f.renderView = {at(column, 0, 0), at(column, cw / 4.0, 0), at(f.frame2, cw / 2.0, ch / 2.0),
                        at(f.frame2, cw / 2.0, 0)};
        break;
    }
    return f;
}

float DisplayLayout::controllerBarWidth(float screenScaleFactor)
{
    return screenScaleFactor == 2.0f ? 450.0f : 500.0f;
}

float DisplayLayout::controllerBarShiftAdjust(float screenScaleFactor)
{
    return screenScaleFactor == 2.0f ? 63.0f : 70.0f;
}

PointRect DisplayLayout::controllerBarFrame(float screenScaleFactor, double renderView1Width)
{
    const double width = controllerBarWidth(screenScaleFactor);
    return {(2.0 * renderView1Width - width) * 0.5, 30.0, width, 50.0};
}

} // namespace qr
