#pragma once

#include "ui/PointRect.h"

#include <cstdint>

namespace qr {

// Where the player's controls sit in render view 4 (the control panel), in its points.
struct ControlsGeometry {
    PointRect caption;
    PointRect formatSelector; // before fitting; fitted only when fitFormatSelector
    bool fitFormatSelector = false;
    PointRect orderSelector; // before fitting; always fitted
    PointRect generatePlaylist;
    // While a playlist pass runs: its progress bar in the Generate Playlist button's place, and its
    // one line of text just above that place.
    PointRect passProgress, passStatus;
    double passStatusFontSize = 13;
    PointRect tools;
    PointRect zoomSlider, xSlider, ySlider, speedSlider;
    PointRect reset, copy, share;
    double captionFontSize = 16;
};

// Frames of the main display while zoomed, and the labels that stay put on screen.
struct ZoomGeometry {
    PointRect renderView1;                       // in the container view
    PointRect imageView1;                        // in render view 1
    PointRect photoNumLabel, playbackSpeedLabel; // in render view 1
};

// One step of the speed slider.
struct SpeedStep {
    int32_t playbackSpeed = 1;   // photos per second
    float timerTimeInterval = 1; // seconds
};

class ControlsLayout {
public:
    static constexpr double labelSize = 30.0;
    static constexpr double labelInset = 15.0;

    static ControlsGeometry compute(double panelWidth, double panelHeight, float screenScaleFactor);
    // A control fitted to its content keeps its bottom edge and is centred again.
    static PointRect fitted(const PointRect& initial, double width, double height, double panelWidth);

    // The two labels of the main display at their natural places (no zoom).
    static PointRect photoNumLabel();
    static PointRect playbackSpeedLabel(double renderView1Width);

    // The main display grown by zoom z about its centre, the photo panned by the image offsets.
    static ZoomGeometry zoom(float z, float outWidth, float outHeight, float verticalOffset,
                             float imageOffsetW, float imageOffsetH);

    // Strict thresholds in eighths: exactly 0.875 still gives 15 photos per second.
    static SpeedStep speedFor(double sliderValue);

    // Slider ranges and start values.
    static constexpr double zoomMin = 0.0, zoomMax = 1.0, zoomStart = 0.0;
    static constexpr double panMin = -0.5, panMax = 0.5, panStart = 0.0;
    static constexpr double speedMin = 0.0, speedMax = 1.0, speedStart = 0.0625;
};

} // namespace qr
