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
    // re-creating it (whatever stands under its name is removed first). Errors are not reported;
    // a folder that could not be made lists empty.
    static AppFolders prepare(const QString& appDir, const QString& downloadsDir);
};

} // namespace qr
