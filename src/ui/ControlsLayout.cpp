#include "ui/ControlsLayout.h"

namespace qr {

namespace {

// Height fractions of the control panel, kept as the single-precision constants they are.
constexpr double f101 = 0.8416667f;
constexpr double f83 = 0.6916667f;
constexpr double f2of3 = 0.6666667f;
constexpr double f65 = 0.5416667f;
constexpr double f47 = 0.3916667f;
constexpr double f25 = 0.2083333f;
constexpr double f5 = 0.0416667f;

PointRect centred(double panelWidth, double width, double height, double y)
{
    return {(panelWidth - width) * 0.5, y, width, height};
}

} // namespace

ControlsGeometry ControlsLayout::compute(double rw, double rh, float sf)
{
    const bool retina = sf == 2.0f;
    ControlsGeometry g;
    g.captionFontSize = retina ? 12.0 : 16.0;
    g.caption = centred(rw, 0.9 * rw, 30.0, 0.8 * rh);
    g.formatSelector =
        retina ? centred(rw, 0.95 * rw, 15.0, f2of3 * rh) : centred(rw, 0.8 * rw, 30.0, f2of3 * rh);
    g.fitFormatSelector = !retina;
    g.orderSelector = centred(rw, 0.8 * rw, retina ? 15.0 : 30.0, 0.5 * rh);
    const double buttonW = retina ? 130.0 : 150.0;
    const double buttonH = retina ? 40.0 : 50.0;
    g.generatePlaylist = centred(rw, buttonW, buttonH, f25 * rh);
    g.tools = {(rw - g.generatePlaylist.width) * 0.5, f5 * rh, buttonW, buttonH};
    const double barH = retina ? 6.0 : 8.0;
    g.passProgress = centred(rw, 0.8 * rw, barH, f25 * rh + (buttonH - barH) * 0.5);
    g.passStatus = centred(rw, 0.95 * rw, retina ? 14.0 : 18.0, f25 * rh + buttonH + 2.0);
    g.passStatusFontSize = retina ? 10.0 : 13.0;
    const double sliderH = retina ? 15.0 : 30.0;
    g.zoomSlider = centred(rw, 0.8 * rw, sliderH, f101 * rh);
    g.xSlider = centred(rw, 0.8 * rw, sliderH, f83 * rh);
    g.ySlider = centred(rw, 0.8 * rw, sliderH, f65 * rh);
    g.speedSlider = centred(rw, 0.8 * rw, sliderH, f47 * rh);
    const double smallW = retina ? 60.0 : 90.0;
    const double smallH = retina ? 30.0 : 45.0;
    const double half = smallW * 0.5;
    const double gap = retina ? 7.5 : 15.0;
    g.reset = {0.5 * rw - half, f25 * rh, smallW, smallH};
    g.copy = {0.25 * rw - half - gap, f25 * rh, smallW, smallH};
    g.share = {0.75 * rw - half + gap, f25 * rh, smallW, smallH};
    return g;
}

PointRect ControlsLayout::fitted(const PointRect& initial, double width, double height, double panelWidth)
{
    return {(panelWidth - width) * 0.5, initial.y, width, height};
}

PointRect ControlsLayout::photoNumLabel()
{
    return {labelInset, labelInset, labelSize, labelSize};
}

PointRect ControlsLayout::playbackSpeedLabel(double renderView1Width)
{
    return {renderView1Width - 0.5 * labelSize - labelInset, labelInset, labelSize, labelSize};
}

ZoomGeometry ControlsLayout::zoom(float z, float outWidth, float outHeight, float verticalOffset,
                                  float imageOffsetW, float imageOffsetH)
{
    ZoomGeometry g;
    const float dW = z * outWidth;
    const float dH = z * outHeight;
    const float width = outWidth + dW;
    const float height = outHeight + dH;
    g.renderView1 = {outWidth * 0.5f - dW * 0.5f, verticalOffset * 0.5f - dH * 0.5f, width, height};
    g.imageView1 = {imageOffsetW, imageOffsetH, width, height};
    g.photoNumLabel = {labelInset + dW * 0.5f, labelInset + dH * 0.5f, labelSize, labelSize};
    g.playbackSpeedLabel = {width - 0.5 * labelSize - labelInset - dW * 0.5f, labelInset + dH * 0.5f,
                            labelSize, labelSize};
    return g;
}

SpeedStep ControlsLayout::speedFor(double v)
{
    if (v > 0.875)
        return {30, 1.0f / 30.0f};
    if (v > 0.75)
        return {15, 1.0f / 15.0f};
    if (v > 0.625)
        return {10, 0.1f};
    if (v > 0.5)
        return {6, 1.0f / 6.0f};
    if (v > 0.375)
        return {5, 0.2f};
    if (v > 0.25)
        return {3, 1.0f / 3.0f};
    if (v > 0.125)
        return {2, 0.5f};
    return {1, 1.0f};
}

} // namespace qr
