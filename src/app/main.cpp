#include "app/AppDelegate.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quintaray"));
    QCoreApplication::setApplicationName(QStringLiteral("quintaray-tv-studio"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.3.74"));

    QApplication::setWindowIcon(QIcon(QStringLiteral(":/app_icon_300x300.png")));
    QGuiApplication::setDesktopFileName(QStringLiteral("quintaray-tv-studio"));

    qr::AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    const int rc = QApplication::exec();
    delegate.applicationWillTerminate();
    return rc;
}
