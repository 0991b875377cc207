#pragma once

#include <QString>
#include <QStringList>

namespace qr {

// The program's folders, prepared once at start-up.
struct AppFolders {
    QString _pathToAppDir;
    QString _pathToQuintarayDir;
    QString _pathToDownloadsDir;
    QString _pathToPresetsDir;
    QString _pathToFavoritesDir;
    QStringList _listOfFilesInPresetsDir;
    QStringList _listOfFilesInFavoritesDir;

    // appDir: the program's private data folder; downloadsDir: the user's Downloads folder.
    // Creates Quintaray and Presets when missing, and empties Favorites by removing and
    // re-creating it. Errors are not reported; a folder that could not be made lists empty.
    static AppFolders prepare(const QString& appDir, const QString& downloadsDir);

    // File names in dir (hidden ones included), in plain character order.
    static QStringList sortedListing(const QString& dir);
};

} // namespace qr
