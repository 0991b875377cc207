#pragma once

#include "ui/BezelButton.h"
#include "ui/ControlsLayout.h"
#include "ui/FloatSlider.h"
#include "ui/SegmentedControl.h"

#include <QFont>
#include <QPointer>
#include <QString>

#include <cstdint>
#include <functional>

#include <QLabel>
#include <QPushButton>
class QWidget;

namespace qr {

class PlayerEngine;
class RenderPanels;
class SharingPicker;
struct ScreenMetrics;

// The media player's controls: the playlist panel and the tools panel in render view 4, the two
// labels on the main display, and the favourite buttons. They set the engine's playlist and speed
// fields and move and enlarge the main display.
class PlayerControls {
public:
    // `metrics` and `panels` must outlive the controls; `engine` may be set later.
    PlayerControls(const ScreenMetrics* metrics, RenderPanels* panels);
    ~PlayerControls();
    PlayerControls(const PlayerControls&) = delete;
    PlayerControls& operator=(const PlayerControls&) = delete;

    void setEngine(PlayerEngine* engine) { m_engine = engine; }
    void setFavoritesDir(const QString& path) { _pathToFavoritesDir = path; }
    void setSharingPicker(SharingPicker* picker) { m_picker = picker; }

    // Builders (render view 4 and render view 1 must exist).
    void configGeneratePlaylistButton();
    void configJpegHeicRgbAllSeg();
    void configFifoLifoSeg();
    void configToolsButton();
    void configSliders();
    void configResetSlidersButton();
    void configSaveAsPresetButton();
    void configShareFavPhotosButton();
    void configView1Labels();

    // Actions.
    void generatePlaylistButtonAction();
    void jpegHeicRgbAllSegAction(int selected);
    void fifoLifoSegAction(int selected);
    void toolsButtonAction();
    void zoomInSliderAction();
    void xSliderAction();
    void ySliderAction();
    void speedSliderAction();
    void resetSlidersButtonAction();
    void maxOutTheSliderAndImage();
    void copyFavPhotoAction();
    void shareFavPhotosAction();

    // The Tools button joins render view 4 (after a playlist pass and after every resize).
    void addToolsButton();
    // Copy, then Share when the Favorites folder holds an entry; and their removal.
    void showFavouriteButtons();
    void hideFavouriteButtons();

    // The bold italic Arial of the player's labels on the display and in render view 4.
    static QFont arialBoldItalic(int pixelSize);

    void setPhotoNumText(const QString& text);
    void setPlaybackSpeedText(const QString& text);
    void setZoomSliderMaximum(float maximum);
    double speedSliderValue() const;

    bool _toolsEn = false;
    float _imageOffsetW = 0.0f, _imageOffsetH = 0.0f;
    QString _pathToFavoritesDir;

    // Widgets, for the window's owner and for tests.
    QLabel* playlistLabel() const { return _playlistLabel; }
    SegmentedControl* jpegHeicRgbAllSeg() const { return _jpegHeicRgbAllSeg; }
    SegmentedControl* fifoLifoSeg() const { return _fifoLifoSeg; }
    QPushButton* playlistButton() const;
    QPushButton* toolsButton() const;
    FloatSlider* zoomInSlider() const { return _zoomInSlider; }
    FloatSlider* xSlider() const { return _xSlider; }
    FloatSlider* ySlider() const { return _ySlider; }
    FloatSlider* speedSlider() const { return _speedSlider; }
    QPushButton* resetSlidersButton() const;
    QPushButton* saveAsPresetButton() const;
    QPushButton* shareFavPhotosButton() const;
    QLabel* photoNumLabel() const { return _photoNumLabel; }
    QLabel* playbackSpeedLabel() const { return _playbackSpeedLabel; }
    // The frame of a control in render view 4's points (as placed).
    ControlsGeometry geometry() const;

private:
    QWidget* panel() const;
    QWidget* mainDisplay() const;
    bool firstPhotoIsPortrait() const;
    // Runs a slider's work with the render timer stopped, re-arming it when it ran.
    void withTimerPaused(const std::function<void()>& work);
    void placeInPanel(QWidget* w, const PointRect& r) const;
    void addToPanel(QWidget* w) const;
    static void removeFromSuperview(QWidget* w);
    void applyZoom(float z);
    void styleSlider(FloatSlider* s, const QString& name) const;

    const ScreenMetrics* m_metrics;
    RenderPanels* m_panels;
    PlayerEngine* m_engine = nullptr;
    SharingPicker* m_picker = nullptr;

    QPointer<QLabel> _playlistLabel;
    QPointer<SegmentedControl> _jpegHeicRgbAllSeg, _fifoLifoSeg;
    QPointer<BezelButton> _playlistButton, _toolsButton, _resetSlidersButton;
    QPointer<FloatSlider> _zoomInSlider, _xSlider, _ySlider, _speedSlider;
    QPointer<BezelButton> _saveAsPresetButton, _shareFavPhotosButton;
    QPointer<QLabel> _photoNumLabel, _playbackSpeedLabel;
};

} // namespace qr
