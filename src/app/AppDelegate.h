#pragma once

#include <QString>

#include <memory>

namespace qr {

class ContainerVC;
class MainWindow;

// Builds the window and the main controller and runs the start-up sequence.
class AppDelegate {
public:
    static QString windowTitle() { return QStringLiteral("Quintaray TV/Studio (v1.3 / Build #74)"); }

    AppDelegate();
    ~AppDelegate();

    void applicationDidFinishLaunching();
    void applicationWillTerminate() {}
    void configMainMenu();

    MainWindow* window() const { return _window.get(); }
    ContainerVC* containerVC() const { return _containerVC.get(); }

private:
    std::unique_ptr<MainWindow> _window;
    std::unique_ptr<ContainerVC> _containerVC;
};

} // namespace qr
