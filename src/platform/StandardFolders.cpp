#include "platform/StandardFolders.h"

#include <QStandardPaths>

namespace qr {

QString StandardFolders::applicationSupport()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

QString StandardFolders::downloads()
{
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

QString StandardFolders::movies()
{
    return QStandardPaths::writableLocation(QStandardPaths::MoviesLocation);
}

QString StandardFolders::applicationGroupContainer(const QString& groupIdentifier)
{
    const QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (base.isEmpty() || groupIdentifier.isEmpty())
        return {};
    return base + QLatin1Char('/') + groupIdentifier;
}

} // namespace qr
