#include "app/AppFolders.h"

#include "player/Playlist.h"

#include <QDir>

namespace qr {

QStringList AppFolders::sortedListing(const QString& dir)
{
    QStringList names = QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Unsorted);
    std::sort(names.begin(), names.end(),
              [](const QString& a, const QString& b) { return a.compare(b) < 0; });
    return names;
}

AppFolders AppFolders::prepare(const QString& appDir, const QString& downloadsDir)
{
    AppFolders f;
    f._pathToAppDir = appDir;
    f._pathToDownloadsDir = downloadsDir;
    if (appDir.isEmpty())
        return f; // never work relative to the current folder, and never remove "/Favorites"

    // The private data folder may not exist on a first run; its sub-folders need it.
    QDir().mkpath(appDir);

    f._pathToQuintarayDir = appDir + QStringLiteral("/Quintaray");
    if (!QFileInfo::exists(f._pathToQuintarayDir))
        QDir().mkdir(f._pathToQuintarayDir);

    f._pathToPresetsDir = appDir + QStringLiteral("/Presets");
    if (!QFileInfo::exists(f._pathToPresetsDir))
        QDir().mkdir(f._pathToPresetsDir);
    f._listOfFilesInPresetsDir = sortedListing(f._pathToPresetsDir);

    // Favourites last only until the program ends.
    f._pathToFavoritesDir = appDir + QStringLiteral("/Favorites");
    QFileInfo favorites(f._pathToFavoritesDir);
    if (favorites.isSymLink())
        QFile::remove(f._pathToFavoritesDir); // the link only, never what it points to
    else if (favorites.exists())
        QDir(f._pathToFavoritesDir).removeRecursively();
    QDir().mkdir(f._pathToFavoritesDir);
    f._listOfFilesInFavoritesDir = sortedListing(f._pathToFavoritesDir);
    return f;
}

} // namespace qr
