#pragma once

#include "app/AppFolders.h"
#include "companion/SharedContainer.h"
#include "modes/ModeFlags.h"
#include "mvc/MvcSecretCode.h"
#include "ui/PbCtlrViewPlaybackDelegate.h"
#include "ui/ScreenMetrics.h"

#include <QObject>
#include <QSize>
#include <QString>

#include <array>
#include <cstdint>
#include <memory>

namespace qr {

class ClipExportUi;
class ContainerView;
class KroxDecoder;
class MainWindow;
class MvcControlStrip;
class MvcMaster;
class MvcRecordingUi;
class PlayerEngine;
class PlayerUi;

// The main controller: owns the state of every mode, grouped per subsystem, and forwards each
// operation to the subsystem that implements it. Lives on the main thread.
class ContainerVC : public QObject, public PbCtlrViewPlaybackDelegate {
    Q_OBJECT
public:
    explicit ContainerVC(MainWindow* window);
    ~ContainerVC() override;

    // The controller's view; the first call loads it (viewDidLoad and the start-up dialogs).
    ContainerView* view();

    void viewDidLoad();
    void updateUI(int32_t unused);

    // Start-up modes.
    void presentNewInitDialog();
    void presentStartupDialog();
    void presentMultiViewCaptureDialog();
    void presentQuintarayOnAppleSiMacDialog();
    void parseSecretCodeInputString(const QString& text);

    // Companion mode.
    void configForAppGroupSharing();
    void moveInputsToAppGroupSharedRxDir();
    void moveOutputsFromAppGroupSharedTxDir();

    // Player layout and controls, built when the welcome dialog is confirmed.
    void configRenderView1();
    void configRenderView2();
    void configRenderView3();
    void configRenderView4();
    void configGeneratePlaylistButton();
    void configJpegHeicRgbAllSeg();
    void configFifoLifoSeg();
    void configToolsButton();
    void configSliders();
    void configResetSlidersButton();
    void configSaveAsPresetButton();
    void configShareFavPhotosButton();
    void configView1Labels();

    // Menu commands.
    void menuRefresh();
    void menuPresentationMode1();
    void menuPresentationMode2();
    void menuPresentationMode3();
    void menuPresentationMode4();
    void menuToggleColors();
    void menuToggleRepeatSet();
    void menuExportSetAsVideo();
    void menuToggleRecording();
    bool isRecording() const;

    // Multi View Capture: starts the master once; the strip is rebuilt with render view 4.
    void setupMvcMaster();
    void configMvcControlStrip();
    void displayInitImages();
    void setMvcPresentationMode(int32_t n); // n = 1 to 4
    // Position `view` (0 to 2) shows that its picture is `seconds` old (0: a live picture).
    void showStreamStale(int view, int seconds);

    // The window's resize hook: the size the window takes for a proposed size.
    QSize windowWillResize(QSize proposed);

    // The controller bar's commands, carried out by the player engine.
    void toContainerVCFromPbCtlrView(PbCtlrView* sender, TransportCommand command) override;

    // --- Mode flags (start-up chooser and the dialogs after it) ---
    ModeFlags _modes;

    // --- Folders ---
    AppFolders _folders;

    // --- Settings ---
    struct Settings {
        QString _quintarayTvForMacSecretCode;
        MvcSecretCode _tf; // the code's six fields
    } _settings;

    // --- Decoder ---
    std::unique_ptr<KroxDecoder> _kroxDecoder;

    // --- Screen and layout ---
    ScreenMetrics _screen;
    ContainerView* _containerView = nullptr; // owned by the window once installed
    // Panels, controls, labels and controller bar on the container view; the player engine's display.
    std::unique_ptr<PlayerUi> _playerUi;

    // --- Player ---
    // Playlist, scheduler and transport (`_repeatSetEn` included); `_toolsEn` and the image offsets
    // live in _playerUi->controls().
    std::unique_ptr<PlayerEngine> _playerEngine;
    // "Export Set as Video…", made at its first use; goes before the engine and the controls it reads.
    std::unique_ptr<ClipExportUi> _clipExport;

    // --- Multi View Capture ---
    struct Mvc {
        int32_t _mvcPresentationMode = 0;
        bool _mvcToggleColorsMode = false;
        // The listener, its slots and their frames (widget-free); the strip inside render view 4.
        std::unique_ptr<MvcMaster> _master;
        std::unique_ptr<MvcControlStrip> _strip;
        // Recording what the master shows; goes before the master, finishing its clips.
        std::unique_ptr<MvcRecordingUi> _recording;
    } _mvc;

    // --- Companion ---
    SharedContainer _companion;

    MainWindow* window() const { return m_window; }

private:
    ScreenInfo mainScreenInfo() const;

    MainWindow* m_window;
};

} // namespace qr
