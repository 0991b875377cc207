#include "app/ContainerVC.h"

#include "companion/AppleSiliconCheck.h"
#include "companion/CompanionDialog.h"
#include "companion/CompanionMoves.h"
#include "decode/KroxDecoder.h"
#include "modes/StartupChooser.h"
#include "modes/WelcomeDialog.h"
#include "platform/Alert.h"
#include "platform/ContainerView.h"
#include "platform/MainWindow.h"
#include "platform/StandardFolders.h"
#include "platform/UserDefaults.h"
#include "player/PlayerEngine.h"
#include "ui/PlayerUi.h"

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
    _player._repeatSetEn = false;
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
        info.visibleWidth = screen->availableGeometry().width();
        info.visibleHeight = screen->availableGeometry().height();
    }
    if (m_window && m_window->menuWidget())
        info.menuBarHeight = m_window->menuWidget()->height();
    return info;
}

void ContainerVC::updateUI(int32_t /*unused*/)
{
    _screen = ScreenMetricsCalc::compute(mainScreenInfo());
    _containerView = new ContainerView;
    _containerView->resize(static_cast<int>(_screen.outWidth), static_cast<int>(_screen.outHeight));
    _playerUi = std::make_unique<PlayerUi>(_containerView, &_screen);
    _playerEngine = std::make_unique<PlayerEngine>(_playerUi.get());
    _playerUi->setEngine(_playerEngine.get());
    _playerUi->setBarDelegate(this);
    _playerUi->setLayoutModeSource([this] {
        return LayoutMode{_modes._mediaPlayerModeEn, _modes._mvcModeEn, _mvc._mvcPresentationMode, false};
    });

    _folders = AppFolders::prepare(StandardFolders::applicationSupport(), StandardFolders::downloads());
    _player._toolsButtonBackActionCntr = 0;
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
    if (text.size() < 6)
        return;
    for (int i = 0; i < 6; ++i)
        _settings._tf[static_cast<size_t>(i)] = static_cast<int32_t>(text.at(i).unicode()) - 48;
}

// Multi View Capture dialog: built with the MVC master.
void ContainerVC::presentMultiViewCaptureDialog() {}
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

QStringList ContainerVC::stripOffAllButLastPathComponent(const QStringList& paths)
{
    return CompanionMoves::stripOffAllButLastPathComponent(paths);
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

void ContainerVC::toContainerVCFromPbCtlrView(PbCtlrView* /*sender*/, int32_t playbackNum)
{
    _playerEngine->toContainerVCFromPbCtlrView(playbackNum);
}

void ContainerVC::menuRefresh()
{
    presentQuintarayOnAppleSiMacDialog();
}

// Presentation modes and colours: built with the MVC master.
void ContainerVC::menuPresentationMode1() {}
void ContainerVC::menuPresentationMode2() {}
void ContainerVC::menuPresentationMode3() {}
void ContainerVC::menuPresentationMode4() {}
void ContainerVC::menuToggleColors() {}
void ContainerVC::menuToggleRepeatSet()
{
    _playerEngine->menuToggleRepeatSet(_modes._mediaPlayerModeEn);
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
