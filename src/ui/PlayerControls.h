#pragma once

#include "player/Playlist.h"
#include "ui/BezelButton.h"
#include "ui/ControlsLayout.h"
#include "ui/FloatSlider.h"
#include "ui/SegmentedControl.h"

#include <QElapsedTimer>
#include <QFont>
#include <QList>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <cstdint>
#include <functional>
#include <memory>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

class QTimer;
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
    // Called after every zoom of the main display (its image may need more pixels now).
    void setZoomHook(std::function<void()> hook) { m_zoomHook = std::move(hook); }
    void setFavoritesDir(const QString& path) { _pathToFavoritesDir = path; }
    void setSharingPicker(SharingPicker* picker) { m_picker = picker; }
    // A clip made of a set: Share offers it beside the latest favourite, and the Share button shows
    // wherever it would for a favourite. Empty for none.
    void setSharedClip(const QString& path);
    const QString& sharedClip() const { return _sharedClip; }

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

    // Actions. Generate Playlist pressed while a pass runs stops that pass.
    void generatePlaylistButtonAction();
    // Escape: stops a running pass at its next file boundary; false when none runs.
    bool stopPlaylistPass();

    // The running pass's progress (from the engine): shown at once, then at most every
    // kProgressIntervalMs, always ending on the newest report.
    static constexpr int kProgressIntervalMs = 250;
    void playlistProgress(const PlaylistProgress& progress);
    // The end of a pass: the progress goes; a stopped pass says so (why, when it stopped by itself)
    // and gives the button back; a pass that found nothing playable says why on the main display.
    enum class PassEnd { Played, NothingPlayable, Stopped };
    void playlistPassEnded(PassEnd end, const QString& rejection);
    // How many of the playlist's sets are prepared for a smooth first play (from the engine): shown
    // below the Generate Playlist button as "12 of 15 sets ready" once a set needed preparing ahead.
    void setsReadyChanged(int ready, int total);
    // The one line for a progress report, e.g. "Decompressing 17 of 45 raw frames".
    static QString progressText(const PlaylistProgress& progress);
    static QString nothingPlayableText(const QString& rejection);
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
    QString _sharedClip;

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
    QLabel* passStatusLabel() const { return _passStatusLabel; }
    QProgressBar* passProgressBar() const { return _passProgressBar; }
    QLabel* nothingPlayableLabel() const { return _nothingPlayableLabel; }
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
    // What Share offers: the latest favourite, then the clip while its file exists.
    QList<QUrl> shareItems() const;
    void styleSlider(FloatSlider* s, const QString& name) const;
    // The progress line and bar in render view 4, built with the Generate Playlist button.
    void configPassProgress();
    void showLatestProgress();
    void showProgressBar();
    // Shows or hides the pass's widgets for the pass's state and the panel showing.
    void refreshPassWidgets();

    const ScreenMetrics* m_metrics;
    RenderPanels* m_panels;
    PlayerEngine* m_engine = nullptr;
    std::function<void()> m_zoomHook;
    SharingPicker* m_picker = nullptr;

    QPointer<QLabel> _playlistLabel;
    QPointer<SegmentedControl> _jpegHeicRgbAllSeg, _fifoLifoSeg;
    QPointer<BezelButton> _playlistButton, _toolsButton, _resetSlidersButton;
    QPointer<FloatSlider> _zoomInSlider, _xSlider, _ySlider, _speedSlider;
    QPointer<BezelButton> _saveAsPresetButton, _shareFavPhotosButton;
    QPointer<QLabel> _photoNumLabel, _playbackSpeedLabel;

    enum class PassState { Idle, Running, Stopping, Stopped };
    PassState m_passState = PassState::Idle;
    PlaylistProgress m_latestProgress;
    QString m_nothingPlayable; // the main display's line after a pass that found nothing playable
    QString m_stopReason;      // why the last pass stopped by itself; empty when the user stopped it
    QString m_setsReady;       // "N of M sets ready"; empty when no set of the playlist needed preparing
    QElapsedTimer m_progressShown;
    std::unique_ptr<QTimer> m_progressTimer;
    QPointer<QLabel> _passStatusLabel;
    QPointer<QProgressBar> _passProgressBar;
    QPointer<QLabel> _nothingPlayableLabel;
};

} // namespace qr
