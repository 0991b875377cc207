#pragma once

#include "player/PhotoImage.h"
#include "player/PlayerDisplay.h"
#include "player/TransportCommand.h"
#include "ui/PbCtlrView.h"
#include "ui/PlayerControls.h"
#include "ui/RenderPanels.h"

#include <QObject>
#include <QPointer>
#include <QSize>

#include <array>
#include <functional>
#include <memory>
#include <optional>

#include <QLabel>

namespace qr {

class PlayerEngine;
class SharingPicker;
struct ScreenMetrics;

// What the layout needs to know about the run's mode.
struct LayoutMode {
    bool mediaPlayerModeEn = false;
    bool mvcModeEn = false;
    int32_t mvcPresentationMode = 2;
    bool mvcToggleColorsMode = false;
};

// The player's user interface on the container view: the four panels, the controls, the labels and
// the controller bar, their layout for each mode and their rebuilding on a window resize. It is the
// display the player engine drives.
class PlayerUi : public QObject, public PlayerDisplay {
    Q_OBJECT
public:
    // `container` is the root view (origin of all points: its bottom left); `metrics` the main
    // controller's screen and layout fields. Both must outlive this object.
    PlayerUi(QWidget* container, ScreenMetrics* metrics, QObject* parent = nullptr);
    ~PlayerUi() override;

    void setEngine(PlayerEngine* engine);
    // The receiver of the controller bar's commands (a PbCtlrViewPlaybackDelegate).
    void setBarDelegate(QObject* delegate) { m_barDelegate = delegate; }
    void setFavoritesDir(const QString& path) { m_controls.setFavoritesDir(path); }
    void setLayoutModeSource(std::function<LayoutMode()> source) { m_mode = std::move(source); }
    // Called at the end of configRenderView1 and configRenderView4 (MVC indicator views and the
    // like); the player's own repeat label is built here in the media player.
    void setRenderViewHooks(std::function<void()> afterView1, std::function<void()> afterView4);

    // Panel builders; always called as a group, 1 to 4.
    void configRenderView1();
    void configRenderView2();
    void configRenderView3();
    void configRenderView4();
    void configRepeatSetLabel();

    // Control builders and actions.
    PlayerControls& controls() { return m_controls; }
    RenderPanels& panels() { return m_panels; }

    // Creates a new controller bar for a set start (resets the sliders first).
    void createControllerBar();
    PbCtlrView* controllerBar() const { return m_bar; }
    QLabel* repeatSetLabel() const { return m_repeatSetLabel; }

    // The window-resize hook: rebuilds the layout for the proposed window size and answers the size
    // the window takes. `menuBarHeight` as reported by the window. In capture mode only the panels
    // and the capture strip are rebuilt, each position keeping its frame.
    QSize windowWillResize(QSize proposed, float screenScaleFactor, double menuBarHeight);

    // Fits an image into a right-column panel.
    QImage resizeImage(const QImage& image) const;

    // Keyboard transport on `window`: Space play/pause, Left/Right previous/next photo, Home/End first
    // and last photo, Page Up/Page Down next/previous set. Keys with modifiers stay the menu's.
    void installTransportKeys(QWidget* window);
    // The command a key stands for, if any.
    static std::optional<TransportCommand> commandForKey(int key, Qt::KeyboardModifiers modifiers);

    // PlayerDisplay.
    void showImage(int view, const PhotoImage& image) override;
    void setPhotoNumText(const QString& text) override;
    void setPlaybackSpeedText(const QString& text) override;
    void setRepeatLabelColour(bool repeatOn) override;
    void recreateControllerBar() override;
    void resetSliders() override;
    void maxOutTheSliderAndImage(const PhotoImage& first) override;
    void setZoomSliderMaximum(float maximum) override;
    double speedSliderValue() const override;
    bool toolsPanelShown() const override;
    void hideFavouriteButtons() override;
    void showFavouriteButtons() override;
    float outWidth() const override;
    QSize preparedPixelSize(int view) const override;
    QSize mainCopyPixelSize(QSize firstPhoto) const override;
    // The device pixels of image view 1 for a display of `points` at pixel ratio `dpr` at the zoom a
    // set whose first photo is `photo` starts with: a portrait photo zooms the view by its width's
    // excess over the display, up to twice the display; any other photo leaves it unzoomed.
    static QSize defaultViewPixelSize(QSize photo, QSizeF points, double dpr);
    // A copy is never painted larger than this many times its own pixels.
    static constexpr double kMaxStretch = 1.25;
    QSize rawCopyPixelSize() const override;
    void playlistPassFinished(const PhotoImage& first) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    LayoutMode mode() const;
    PanelFrames currentFrames() const;
    void placeControllerBar();
    void rebuildCaptureLayout();
    QImage imageForMainDisplay(const PhotoImage& image) const;
    double devicePixelRatio() const;

    QWidget* m_container;
    ScreenMetrics* m_metrics;
    PlayerEngine* m_engine = nullptr;
    QPointer<QObject> m_barDelegate;
    std::function<LayoutMode()> m_mode;
    std::function<void()> m_afterView1, m_afterView4;
    RenderPanels m_panels;
    PlayerControls m_controls;
    std::unique_ptr<SharingPicker> m_picker;
    QPointer<PbCtlrView> m_bar;
    QPointer<QLabel> m_repeatSetLabel;
    QPointer<QWidget> m_keyWindow;
    PanelFrames m_frames;
    std::array<PhotoImage, 3> m_shown; // what image views 1 to 3 show
};

} // namespace qr
