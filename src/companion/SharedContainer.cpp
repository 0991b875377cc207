#include "companion/SharedContainer.h"

#include "platform/StandardFolders.h"

#include <QDir>
#include <QFileInfo>

namespace qr {

SharedContainer SharedContainer::configForAppGroupSharing()
{
    return configForAppGroupSharing(StandardFolders::applicationGroupContainer(groupIdentifier()));
}

SharedContainer SharedContainer::configForAppGroupSharing(const QString& containerDir)
{
    SharedContainer s;
    if (containerDir.isEmpty())
        return s;
    s._pathToSharedContainerDir = containerDir;
    s._quintarayKroxContainerURL = QUrl::fromLocalFile(containerDir);
    s._pathToSharedContainerRxSubDir = containerDir + QStringLiteral("/Rx");
    s._pathToSharedContainerTxSubDir = containerDir + QStringLiteral("/Tx");

    // Where the system hands out group containers it also creates them; here the folder is made on
    // first use. Rx and Tx themselves are created without parents.
    if (!QFileInfo::exists(containerDir))
        QDir().mkpath(containerDir);
    if (!QFileInfo::exists(s._pathToSharedContainerRxSubDir))
        QDir().mkdir(s._pathToSharedContainerRxSubDir);
    if (!QFileInfo::exists(s._pathToSharedContainerTxSubDir))
        QDir().mkdir(s._pathToSharedContainerTxSubDir);
    return s;
}

} // namespace qr
