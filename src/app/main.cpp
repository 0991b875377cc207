#include "app/AppDelegate.h"
#include "player/PreparationPipeline.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quintaray"));
    QCoreApplication::setApplicationName(QStringLiteral("quintaray-tv-studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.3.74"));

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app_icon_300x300.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("quintaray-tv-studio"));

    int rc = 0;
    {
        qr::AppDelegate delegate;
        delegate.applicationDidFinishLaunching();
        rc = QApplication::exec();
        delegate.applicationWillTerminate();
    }
    // A photo decode still running on a pool thread (it cannot be interrupted) would run into the
    // teardown of Qt's and the decoders' static data: the process ends here, without that teardown.
    // Everything of the program's own is closed and written by now.
    if (qr::PreparationPipeline::endedWithWorkRunning() > 0) {
        std::fflush(nullptr);
        std::_Exit(rc);
    }
    return rc;
}
