#include "app/ContainerVC.h"

#include "companion/AppleSiliconCheck.h"
#include "companion/CompanionDialog.h"
#include "companion/CompanionMoves.h"
#include "decode/KroxDecoder.h"
#include "modes/MainMenu.h"
#include "modes/MvcDialog.h"
#include "modes/StartupChooser.h"
#include "modes/WelcomeDialog.h"
#include "mvc/MvcMaster.h"
#include "platform/Alert.h"
#include "platform/ContainerView.h"
#include "platform/MainWindow.h"
#include "platform/StandardFolders.h"
#include "platform/UserDefaults.h"
#include "player/PhotoDiskCache.h"
#include "player/PlayerEngine.h"
#include "ui/ClipExportUi.h"
#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/MvcControlStrip.h"
#include "ui/MvcRecordingUi.h"
#include "ui/PlayerUi.h"
#include "ui/RenderPanels.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

namespace qr {

namespace {
const QString kSecretCodeKey = QStringLiteral("quintarayTvForMacSecretCode");
}

ContainerVC::ContainerVC(MainWindow* window) : m_window(window) {}

ContainerVC::~ContainerVC() = default;

ContainerView* ContainerVC::view()
{
    if (!_containerView)
        viewDidLoad();
    return _containerView;
}

void ContainerVC::viewDidLoad()
{
    _modes._mvcModeEn = false;
    _mvc._mvcPresentationMode = 2;
    _kroxDecoder = std::make_unique<KroxDecoder>();
    _settings._quintarayTvForMacSecretCode = UserDefaults::stringForKey(kSecretCodeKey);
    if (_settings._quintarayTvForMacSecretCode.size() == 6)
        parseSecretCodeInputString(_settings._quintarayTvForMacSecretCode);
    updateUI(0);
}

ScreenInfo ContainerVC::mainScreenInfo() const
{
    ScreenInfo info;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen) {
        info.scaleFactor = static_cast<float>(screen->devicePixelRatio());
        info.frameWidth = screen->geometry().width();
        info.frameHeight = screen->geometry().height();
        // The client area the window gets: its frame covers the available area.
        const QMargins decorations = m_window ? m_window->frameMarginsEstimate() : QMargins();
        info.visibleWidth = screen->availableGeometry().width() - decorations.left() - decorations.right();
        info.visibleHeight = screen->availableGeometry().height() - decorations.top() - decorations.bottom();
    }
    // The menu is built after this first layout; the bar's height is that of the bar it will be.
    if (m_window)
        info.menuBarHeight = MainMenu::menuBarHeight(m_window->menuBar());
    return info;
}

void ContainerVC::updateUI(int32_t /*unused*/)
{
    _screen = ScreenMetricsCalc::compute(mainScreenInfo());
    _containerView = new ContainerView;
    _containerView->resize(static_cast<int>(_screen.outWidth), static_cast<int>(_screen.outHeight));
    _playerUi = std::make_unique<PlayerUi>(_containerView, &_screen);
    _playerEngine = std::make_unique<PlayerEngine>(_playerUi.get());
    _playerEngine->setDiskCache(std::make_shared<PhotoDiskCache>(PhotoDiskCache::defaultFolder()));
    _playerEngine->setUnpackRecord(QFileInfo(PhotoDiskCache::defaultFolder()).path() +
                                   QStringLiteral("/unpacked-containers"));
    _playerUi->setEngine(_playerEngine.get());
    _playerUi->setBarDelegate(this);
    _playerUi->setLayoutModeSource([this] {
        return LayoutMode{_modes._mediaPlayerModeEn, _modes._mvcModeEn, _mvc._mvcPresentationMode,
                          _mvc._mvcToggleColorsMode};
    });
    _playerUi->setRenderViewHooks(nullptr, [this] {
        if (_modes._mvcModeEn)
            configMvcControlStrip();
    });

    _folders = AppFolders::prepare(StandardFolders::applicationSupport(), StandardFolders::downloads());
    _modes._appleSiMacEn = AppleSiliconCheck::areWeRunningOnAnAppleSiliconMac();
    presentNewInitDialog();
}

void ContainerVC::presentNewInitDialog()
{
    StartupChooser::Dialogs dialogs;
    dialogs.presentStartupDialog = [this] {
        presentStartupDialog();
    };
    dialogs.presentMultiViewCaptureDialog = [this] {
        presentMultiViewCaptureDialog();
    };
    dialogs.presentQuintarayOnAppleSiMacDialog = [this] {
        presentQuintarayOnAppleSiMacDialog();
    };
    StartupChooser::presentNewInitDialog(_modes, dialogs);
}

void ContainerVC::presentStartupDialog()
{
    if (!WelcomeDialog::run())
        return;
    _modes._mediaPlayerModeEn = true;
    _playerUi->setFavoritesDir(_folders._pathToFavoritesDir);
    _playerEngine->state()._pathToDownloadsDir = _folders._pathToDownloadsDir;
    if (_kroxDecoder)
        _playerEngine->setKroxDecoder(*_kroxDecoder);
    _playerUi->installTransportKeys(m_window);
    configRenderView1();
    configRenderView2();
    configRenderView3();
    configRenderView4();
    configGeneratePlaylistButton();
    configJpegHeicRgbAllSeg();
    configFifoLifoSeg();
    _playerUi->controls()._toolsEn = false;
    configToolsButton();
    _playerUi->controls()._imageOffsetW = 0.0f;
    _playerUi->controls()._imageOffsetH = 0.0f;
    configSliders();
    configResetSlidersButton();
    configSaveAsPresetButton();
    configShareFavPhotosButton();
    configView1Labels();
}

void ContainerVC::parseSecretCodeInputString(const QString& text)
{
    _settings._tf.parseSecretCodeInputString(text);
}

void ContainerVC::presentMultiViewCaptureDialog()
{
    const MvcDialog::Answer answer = MvcDialog::run();
    if (answer.result == MvcDialog::Proceed) {
        _modes._mvcModeEn = true;
        configRenderView1();
        configRenderView2();
        configRenderView3();
        configRenderView4();
        _settings._quintarayTvForMacSecretCode = answer.code;
        // The code typed here is used, not stored.
        if (_settings._quintarayTvForMacSecretCode.size() == 6) {
            parseSecretCodeInputString(_settings._quintarayTvForMacSecretCode);
            setupMvcMaster();
        }
    } else if (answer.result == MvcDialog::SaveChanges) {
        _settings._quintarayTvForMacSecretCode = answer.code;
        if (_settings._quintarayTvForMacSecretCode.size() == 6) {
            parseSecretCodeInputString(_settings._quintarayTvForMacSecretCode);
            UserDefaults::setString(kSecretCodeKey, _settings._quintarayTvForMacSecretCode);
        }
    }
}

void ContainerVC::setupMvcMaster()
{
    if (_mvc._master)
        return;
    _mvc._master = std::make_unique<MvcMaster>();
    MvcMaster* master = _mvc._master.get();
    master->setSecretCode(_settings._tf);
    QObject::connect(master, &MvcMaster::showImage, this, [this](int view, const QImage& image) {
        if (ImageView* iv = _playerUi->panels().imageView(view + 1))
            iv->setImage(image);
    });
    QObject::connect(master, &MvcMaster::indicatorChanged, this, [this](int view, MvcIndicatorColour colour) {
        if (_mvc._strip)
            _mvc._strip->setIndicatorColour(view, colour);
    });
    QObject::connect(master, &MvcMaster::fpsTextChanged, this, [this](int view, const QString& text) {
        if (_mvc._strip)
            _mvc._strip->setSpeedText(view, text);
    });
    QObject::connect(master, &MvcMaster::streamStale, this, &ContainerVC::showStreamStale);
    _mvc._recording = std::make_unique<MvcRecordingUi>(master, StandardFolders::movies());
    if (LayerView* rv4 = _playerUi->panels().renderView(4)) {
        const PointRect& f = _playerUi->panels().frame(4);
        _mvc._recording->configIndicator(rv4, f.width, f.height);
    }
    master->setupMvcMaster();
}

void ContainerVC::configMvcControlStrip()
{
    if (!_mvc._strip) {
        _mvc._strip = std::make_unique<MvcControlStrip>();
        QObject::connect(_mvc._strip.get(), &MvcControlStrip::shutterPressed, this, [this](int view) {
            if (_mvc._master)
                _mvc._master->remoteShutterButtonAction(view);
        });
    }
    LayerView* rv4 = _playerUi->panels().renderView(4);
    if (!rv4)
        return;
    const PointRect& f = _playerUi->panels().frame(4);
    const float scale = _screen.screenScaleFactor;
    _mvc._strip->configMvcIndicatorViews(rv4, f.width, f.height, scale);
    _mvc._strip->configMvcSpeedLabels(rv4, f.width, f.height, scale);
    _mvc._strip->configRemoteShutterButtons(rv4, f.width, f.height, scale);
    if (_mvc._recording)
        _mvc._recording->configIndicator(rv4, f.width, f.height);
    // The panels were built anew: a stream that stopped stays marked.
    if (_mvc._master) {
        for (int view = 0; view < 3; ++view)
            showStreamStale(view, _mvc._master->staleSeconds(view));
    }
}

void ContainerVC::showStreamStale(int view, int seconds)
{
    const QString text = seconds > 0 ? tr("no frames for %1 s").arg(seconds) : QString();
    if (ImageView* iv = _playerUi->panels().imageView(view + 1))
        iv->setStaleText(text);
    if (LayerView* panel = _playerUi->panels().renderView(view + 1))
        panel->setAccessibleDescription(text);
}

void ContainerVC::displayInitImages()
{
    if (!_mvc._master)
        return;
    for (int k = 0; k < 3; ++k) {
        const QImage image = _mvc._master->livePreviewImage(k);
        ImageView* iv = _playerUi->panels().imageView(k + 1);
        if (iv && image.width() > 0 && image.height() > 0)
            iv->setImage(image);
    }
}
void ContainerVC::presentQuintarayOnAppleSiMacDialog()
{
    CompanionDialog::Actions a;
    a.configForAppGroupSharing = [this] {
        configForAppGroupSharing();
    };
    a.runModal = [](const QString& messageText, const QString& informativeText, const QStringList& buttons) {
        Alert alert;
        alert.messageText = messageText;
        alert.informativeText = informativeText;
        for (const QString& title : buttons)
            alert.addButtonWithTitle(title);
        return alert.runModal();
    };
    a.moveInputsToAppGroupSharedRxDir = [this] {
        moveInputsToAppGroupSharedRxDir();
    };
    a.moveOutputsFromAppGroupSharedTxDir = [this] {
        moveOutputsFromAppGroupSharedTxDir();
    };
    CompanionDialog::presentQuintarayOnAppleSiMacDialog(a);
}

void ContainerVC::configForAppGroupSharing()
{
    _companion = SharedContainer::configForAppGroupSharing();
}

void ContainerVC::moveInputsToAppGroupSharedRxDir()
{
    CompanionMoves::moveInputsToAppGroupSharedRxDir(_folders._pathToDownloadsDir,
                                                    _companion._pathToSharedContainerRxSubDir);
}

void ContainerVC::moveOutputsFromAppGroupSharedTxDir()
{
    CompanionMoves::moveOutputsFromAppGroupSharedTxDir(_companion._pathToSharedContainerTxSubDir,
                                                       _folders._pathToDownloadsDir);
}

// Player panels and controls.
void ContainerVC::configRenderView1()
{
    _playerUi->configRenderView1();
}
void ContainerVC::configRenderView2()
{
    _playerUi->configRenderView2();
}
void ContainerVC::configRenderView3()
{
    _playerUi->configRenderView3();
}
void ContainerVC::configRenderView4()
{
    _playerUi->configRenderView4();
}
void ContainerVC::configGeneratePlaylistButton()
{
    _playerUi->controls().configGeneratePlaylistButton();
}
void ContainerVC::configJpegHeicRgbAllSeg()
{
    _playerUi->controls().configJpegHeicRgbAllSeg();
}
void ContainerVC::configFifoLifoSeg()
{
    _playerUi->controls().configFifoLifoSeg();
}
void ContainerVC::configToolsButton()
{
    _playerUi->controls().configToolsButton();
}
void ContainerVC::configSliders()
{
    _playerUi->controls().configSliders();
}
void ContainerVC::configResetSlidersButton()
{
    _playerUi->controls().configResetSlidersButton();
}
void ContainerVC::configSaveAsPresetButton()
{
    _playerUi->controls().configSaveAsPresetButton();
}
void ContainerVC::configShareFavPhotosButton()
{
    _playerUi->controls().configShareFavPhotosButton();
}
void ContainerVC::configView1Labels()
{
    _playerUi->controls().configView1Labels();
}

void ContainerVC::toContainerVCFromPbCtlrView(PbCtlrView* /*sender*/, TransportCommand command)
{
    _playerEngine->toContainerVCFromPbCtlrView(command);
}

void ContainerVC::menuRefresh()
{
    presentQuintarayOnAppleSiMacDialog();
}

// Presentation modes: the panels are rebuilt for the new tiling and keep their images.
void ContainerVC::menuPresentationMode1()
{
    setMvcPresentationMode(1);
}
void ContainerVC::menuPresentationMode2()
{
    setMvcPresentationMode(2);
}
void ContainerVC::menuPresentationMode3()
{
    setMvcPresentationMode(3);
}
void ContainerVC::menuPresentationMode4()
{
    setMvcPresentationMode(4);
}

void ContainerVC::setMvcPresentationMode(int32_t n)
{
    if (_modes._mediaPlayerModeEn)
        return;
    _mvc._mvcPresentationMode = n - 1;
    std::array<QImage, 3> shown;
    for (int v = 0; v < 3; ++v) {
        if (ImageView* iv = _playerUi->panels().imageView(v + 1))
            shown[static_cast<size_t>(v)] = iv->image();
    }
    configRenderView1();
    configRenderView2();
    configRenderView3();
    configRenderView4();
    // reassignImagesAfterViewModeChange: each image back into the new view of its position.
    for (int v = 0; v < 3; ++v) {
        if (ImageView* iv = _playerUi->panels().imageView(v + 1))
            iv->setImage(shown[static_cast<size_t>(v)]);
    }
}

void ContainerVC::menuToggleColors()
{
    if (_modes._mediaPlayerModeEn)
        return;
    _mvc._mvcToggleColorsMode = !_mvc._mvcToggleColorsMode;
    configRenderView1();
    configRenderView2();
    configRenderView3();
    configRenderView4();
    displayInitImages();
}
void ContainerVC::menuToggleRepeatSet()
{
    _playerEngine->menuToggleRepeatSet(_modes._mediaPlayerModeEn);
}

void ContainerVC::menuExportSetAsVideo()
{
    if (!_modes._mediaPlayerModeEn)
        return;
    if (!_clipExport)
        _clipExport = std::make_unique<ClipExportUi>(_playerEngine.get(), &_playerUi->controls(), m_window);
    _clipExport->menuExportSetAsVideo();
}

void ContainerVC::menuToggleRecording()
{
    if (_modes._mediaPlayerModeEn || !_mvc._recording)
        return;
    _mvc._recording->menuToggleRecording();
}

bool ContainerVC::isRecording() const
{
    return _mvc._recording && _mvc._recording->isRecording();
}

QSize ContainerVC::windowWillResize(QSize proposed)
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const float scale = screen ? static_cast<float>(screen->devicePixelRatio()) : 1.0f;
    // The menu bar's height as the window reports it (no fallback here).
    const double menuBar = m_window && m_window->menuWidget() ? m_window->menuWidget()->height() : 0.0;
    return _playerUi->windowWillResize(proposed, scale, menuBar);
}

} // namespace qr
