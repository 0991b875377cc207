#include "app/AppDelegate.h"

#include "app/ContainerVC.h"
#include "modes/MainMenu.h"
#include "platform/ContainerView.h"
#include "platform/MainWindow.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QMenuBar>
#include <QScreen>

namespace qr {

AppDelegate::AppDelegate() : _window(std::make_unique<MainWindow>(QSize(960, 540))) {}

AppDelegate::~AppDelegate()
{
    // The controller's view belongs to the window; the controller goes first.
    _containerVC.reset();
    _window.reset();
}

void AppDelegate::applicationDidFinishLaunching()
{
    _window->setWindowTitle(windowTitle());
    _containerVC = std::make_unique<ContainerVC>(_window.get());
    // Loading the view runs the start-up dialogs, modally, before anything below.
    _window->setCentralWidget(_containerVC->view());
    _window->setResizeDelegate(
        [vc = _containerVC.get()](QSize proposed) { return vc->windowWillResize(proposed); });

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect full = screen ? screen->geometry() : QRect(0, 0, 960, 540);
    const int32_t W = full.width();
    const int32_t H = full.height();

    configMainMenu();

    // The frame, decorations included, covers the available area; in companion mode a quarter of the
    // screen's width and half its height at the available area's bottom-left corner, and no larger.
    const QRect available = screen ? screen->availableGeometry() : full;
    QRect frame = available;
    if (_containerVC->_modes._appGroupSharingEn) {
        const QSize size(W / 4, H / 2);
        frame = QRect(QPoint(available.left(), available.bottom() + 1 - size.height()), size);
        _window->setMaximumFrameSize(size);
    }
    // The style bits are in place before the window is first mapped: decorations that change on a
    // mapped window would show it twice and move the frame just placed.
    _window->setMiniaturizable(true);
    _window->setResizable(true);
    _window->setFrame(frame);
    _window->show();
    _window->raise();
    _window->activateWindow();
}

void AppDelegate::configMainMenu()
{
    ContainerVC* vc = _containerVC.get();
    MainMenu::Actions a;
    a.menuRefresh = [vc] {
        vc->menuRefresh();
    };
    a.menuPresentationMode = {[vc] { vc->menuPresentationMode1(); }, [vc] { vc->menuPresentationMode2(); },
                              [vc] { vc->menuPresentationMode3(); },
                              [vc] {
                                  vc->menuPresentationMode4();
                              }};
    a.menuToggleColors = [vc] {
        vc->menuToggleColors();
    };
    a.menuToggleRecording = [vc] {
        vc->menuToggleRecording();
    };
    a.isRecording = [vc] {
        return vc->isRecording();
    };
    a.menuToggleRepeatSet = [vc] {
        vc->menuToggleRepeatSet();
    };
    a.menuExportSetAsVideo = [vc] {
        vc->menuExportSetAsVideo();
    };
    a.quit = [] {
        QCoreApplication::quit();
    };
    MainMenu::configMainMenu(_window->menuBar(), vc->_modes, a);
}

} // namespace qr
