#include "app/AppFolders.h"

#include "platform/FileListing.h"

#include <QDir>
#include <QFile>

#include <filesystem>
#include <system_error>

namespace qr {

namespace {

QStringList sortedListing(const QString& dir)
{
    return FileListing::names(dir, FileListing::Entries::All);
}

} // namespace

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
    // Whatever stands there goes: a folder with its content; a file, link (never what it points to),
    // FIFO or socket by itself.
    std::error_code ec;
    const auto native = std::filesystem::path(QFile::encodeName(f._pathToFavoritesDir).toStdString());
    if (std::filesystem::symlink_status(native, ec).type() == std::filesystem::file_type::directory)
        QDir(f._pathToFavoritesDir).removeRecursively();
    else
        std::filesystem::remove(native, ec);
    QDir().mkdir(f._pathToFavoritesDir);
    f._listOfFilesInFavoritesDir = sortedListing(f._pathToFavoritesDir);
    return f;
}

} // namespace qr
