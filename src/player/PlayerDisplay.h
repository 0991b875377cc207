#pragma once

#include <QSize>
#include <QString>

namespace qr {

class PhotoImage;

// What the player engine asks of the display. The player widgets implement it; the engine calls it
// on the main thread only, never from a worker. Views are numbered as the render views: 1 is the main
// display, 2 and 3 the side previews of the next two sets.
class PlayerDisplay {
public:
    virtual ~PlayerDisplay() = default;

    // Shows `image` in image view `view` (1, 2 or 3); a null image leaves the view without an image.
    // Views 2 and 3 fit the image into the side panel (`resizeImage:`); the engine hands them the
    // first photo of a following set. Paint `PhotoImage::displayImage()` when it is set: it was
    // prepared off the main thread to fit `preparedPixelSize(view)` and is cheap to draw. The engine
    // hands view 1 a null image rather than a photo whose copy is still being prepared, so a tick never
    // costs a decode; `fullImage()` (which may decode a JPEG or HEIC file now) is for zooming past the
    // copy's resolution.
    virtual void showImage(int view, const PhotoImage& image) = 0;

    // Texts of `_photoNumLabel` and `_playbackSpeedLabel` on the main display.
    virtual void setPhotoNumText(const QString& text) = 0;
    virtual void setPlaybackSpeedText(const QString& text) = 0;

    // Text colour of `_repeatSetLabel`: yellow when repeat is on, white when it is off.
    virtual void setRepeatLabelColour(bool repeatOn) = 0;

    // Removes the controller bar and creates a new one (which shows pause and resets the sliders),
    // with the controller as its delegate. Called at every set start.
    virtual void recreateControllerBar() = 0;

    // `resetSlidersButtonAction:` with no sender: zoom 0, no pan, 1 photo per second. The speed part
    // writes `_playbackSpeed` and `_timerTimeInterval` through `PlayerEngine::state()`.
    virtual void resetSliders() = 0;

    // `maxOutTheSliderAndImage:`; `first` is the set's first photo (null for a raw set). When
    // `_transactionToTheNextSetWillOccur` is set, the display clears it and restores the speed
    // slider from `_speedSliderDoubleValue`.
    virtual void maxOutTheSliderAndImage(const PhotoImage& first) = 0;

    // The zoom slider's maximum, set when slot 1 of a raw set is ready.
    virtual void setZoomSliderMaximum(float maximum) = 0;

    // The speed slider's current value.
    virtual double speedSliderValue() const = 0;

    // `_toolsEn`: the tools panel is showing.
    virtual bool toolsPanelShown() const = 0;

    // Removes the Copy and Share buttons from render view 4.
    virtual void hideFavouriteButtons() = 0;
    // Adds the Copy button to render view 4, lists the Favorites folder again and adds the Share
    // button when it holds an entry.
    virtual void showFavouriteButtons() = 0;

    // `_outWidth`: width of the main display in points.
    virtual float outWidth() const = 0;

    // The pixel size (device pixels) at which view `view` paints a photo; the engine prepares
    // display copies to fit it. An empty size asks for no display copies.
    virtual QSize preparedPixelSize(int view) const = 0;
    // The size of a raw frame's display copy for view 1. Zoomed past it, the view paints from the
    // frame itself, which every raw slot gets soon after its copy; so a display whose prepared size
    // covers a zoom range may ask for less here.
    virtual QSize rawCopyPixelSize() const { return preparedPixelSize(1); }
    // The box (device pixels) that view 1's JPEG and HEIC copies are fitted into for a set whose
    // first photo has natural size `firstPhoto`: what the view needs at the zoom that photo gives it
    // by default, so that the set plays without larger copies.
    virtual QSize mainCopyPixelSize(QSize firstPhoto) const
    {
        Q_UNUSED(firstPhoto);
        return preparedPixelSize(1);
    }

    // End of a playlist pass, after the first set start: `toolsButtonAction:` with no sender, the
    // Tools button added to render view 4, and `maxOutTheSliderAndImage:` with `first` (`_image1`).
    virtual void playlistPassFinished(const PhotoImage& first) = 0;
};

} // namespace qr
