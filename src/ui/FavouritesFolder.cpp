#include "ui/FavouritesFolder.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "platform/ReplacingFile.h"

#include <QFileInfo>

namespace qr {

QStringList FavouritesFolder::sortedListing(const QString& dir)
{
    return FileListing::names(dir, FileListing::Entries::All);
}

bool FavouritesFolder::copyInto(const QString& sourceDir, const QString& name, const QString& favoritesDir)
{
    // Set lists may name photos in sub-folders of the scan root; the favourite keeps the file name.
    const QString fileName = QFileInfo(name).fileName();
    if (sourceDir.isEmpty() || favoritesDir.isEmpty() || fileName.isEmpty() ||
        fileName == QLatin1String("..") || fileName == QLatin1String("."))
        return false;
    RegularFile in;
    QString error;
    if (!in.open(QStringLiteral("%1/%2").arg(sourceDir, name)))
        error = QStringLiteral("cannot read %1: %2").arg(in.path(), in.errorString());
    else if (copyFileReplacing(in, QStringLiteral("%1/%2").arg(favoritesDir, fileName), &error))
        return true;
    qCDebug(lcPlayer).noquote() << "favourite not copied:" << error;
    return false;
}

QList<QUrl> FavouritesFolder::shareItems(const QString& favoritesDir)
{
    const QStringList names = sortedListing(favoritesDir);
    if (names.isEmpty())
        return {};
    return {QUrl::fromLocalFile(QStringLiteral("%1/%2").arg(favoritesDir, names.last()))};
}

} // namespace qr
