#pragma once

#include <QString>
#include <QUrl>

namespace qr {

// Companion mode's state: the folder shared with the phone application and its two exchange
// folders, Rx (inputs for the phone application) and Tx (videos it produced).
struct SharedContainer {
    QUrl _quintarayKroxContainerURL;
    QString _pathToSharedContainerDir;
    QString _pathToSharedContainerRxSubDir;
    QString _pathToSharedContainerTxSubDir;

    static QString groupIdentifier()
    {
        return QStringLiteral("group.Tarvelund-Labs--Inc..KROM.QuintarayKrox");
    }

    // Resolves the application group's shared folder and makes sure Rx and Tx exist.
    static SharedContainer configForAppGroupSharing();

    // The same for a given shared folder. An empty folder leaves every path empty, so that the
    // moves never work on paths relative to the file-system root. Errors are ignored.
    static SharedContainer configForAppGroupSharing(const QString& containerDir);

    bool isUsable() const { return !_pathToSharedContainerDir.isEmpty(); }
};

} // namespace qr
