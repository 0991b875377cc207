#pragma once

// A recording PlayerDisplay and a manual render timer for driving the engine without widgets.

#include "player/PhotoImage.h"
#include "player/PlayerDisplay.h"
#include "player/PlayerEngine.h"
#include "player/PlayerState.h"
#include "player/RenderTimer.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>
#include <array>
#include <functional>

namespace qr::fixtures {

class ManualTimer : public RenderTimer {
public:
    std::int64_t now = 0;
    std::int64_t deadline = 0;
    bool armed = false;
    std::function<void()> callback;

    std::int64_t nowNs() const override { return now; }
    void armAt(std::int64_t deadlineNs) override
    {
        deadline = deadlineNs;
        armed = true;
    }
    void stop() override { armed = false; }
    bool isArmed() const override { return armed; }
    void setCallback(std::function<void()> cb) override { callback = std::move(cb); }

    // Moves the clock to the armed deadline and runs the tick; false when nothing was armed.
    bool fire()
    {
        if (!armed)
            return false;
        now = std::max(now, deadline);
        armed = false;
        callback();
        return true;
    }
};

// The file name of a photo, "" for none: what a view shows, in a form tests can compare.
inline QString nameOf(const PhotoImage& photo)
{
    return photo.isNull() ? QString() : QFileInfo(photo.filePath()).fileName();
}

class FakeDisplay : public PlayerDisplay {
public:
    PlayerEngine* engine = nullptr; // for the slider emulation
    PlayerState* state = nullptr;
    std::array<PhotoImage, 4> views;
    int showCount = 0;
    QString photoNum;
    QString speedText;
    bool repeatYellow = false;
    int barsCreated = 0;
    int resets = 0;
    int maxOuts = 0;
    bool favourites = false;
    bool tools = false;
    double speedSlider = 0.0625;
    float zoomMaximum = 1.0f;
    float displayWidth = 500.0f;
    QSize prepared;
    int passesFinished = 0;

    void showImage(int view, const PhotoImage& image) override
    {
        views[static_cast<std::size_t>(view)] = image;
        ++showCount;
    }
    std::function<void()> onPhotoNum; // runs inside every tick that shows a photo
    void setPhotoNumText(const QString& text) override
    {
        photoNum = text;
        if (onPhotoNum && !text.isEmpty())
            onPhotoNum();
    }
    void setPlaybackSpeedText(const QString& text) override { speedText = text; }
    void setRepeatLabelColour(bool repeatOn) override { repeatYellow = repeatOn; }
    void recreateControllerBar() override
    {
        ++barsCreated;
        resetSliders();
    }
    // The speed part of the slider reset and restore, with two speeds: 2 photos per second above
    // 0.125, else 1.
    void resetSliders() override
    {
        ++resets;
        applySpeed(0.0625);
    }
    void maxOutTheSliderAndImage(const PhotoImage&) override
    {
        ++maxOuts;
        if (state->_transactionToTheNextSetWillOccur) {
            state->_transactionToTheNextSetWillOccur = false;
            // The speed action: a running timer is re-armed with the new period.
            const bool running = engine->stopRenderTimer();
            applySpeed(state->_speedSliderDoubleValue);
            if (running)
                engine->armRenderTimer();
        }
    }
    void setZoomSliderMaximum(float maximum) override { zoomMaximum = maximum; }
    double speedSliderValue() const override { return speedSlider; }
    bool toolsPanelShown() const override { return tools; }
    void hideFavouriteButtons() override { favourites = false; }
    void showFavouriteButtons() override { favourites = true; }
    float outWidth() const override { return displayWidth; }
    QSize preparedPixelSize(int) const override { return prepared; }
    void playlistPassFinished(const PhotoImage&) override { ++passesFinished; }

    void applySpeed(double value)
    {
        speedSlider = value;
        state->_playbackSpeed = value > 0.125 ? 2 : 1;
        state->_timerTimeInterval = value > 0.125 ? 0.5f : 1.0f;
    }
};

} // namespace qr::fixtures
