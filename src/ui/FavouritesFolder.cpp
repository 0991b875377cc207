#include "ui/FavouritesFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <algorithm>

namespace qr {

QStringList FavouritesFolder::sortedListing(const QString& dir)
{
    if (dir.isEmpty())
        return {};
    QStringList names = QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    std::sort(names.begin(), names.end());
    return names;
}

bool FavouritesFolder::copyInto(const QString& sourceDir, const QString& name, const QString& favoritesDir)
{
    // Set lists may name photos in sub-folders of the scan root; the favourite keeps the file name.
    const QString fileName = QFileInfo(name).fileName();
    if (sourceDir.isEmpty() || favoritesDir.isEmpty() || fileName.isEmpty() ||
        fileName == QLatin1String("..") || fileName == QLatin1String("."))
        return false;
    QFile in(QStringLiteral("%1/%2").arg(sourceDir, name));
    if (!in.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError)
        return false;
    QSaveFile out(QStringLiteral("%1/%2").arg(favoritesDir, fileName));
    if (!out.open(QIODevice::WriteOnly))
        return false;
    if (out.write(bytes) != bytes.size()) {
        out.cancelWriting();
        return false;
    }
    return out.commit();
}

QList<QUrl> FavouritesFolder::shareItems(const QString& favoritesDir)
{
    const QStringList names = sortedListing(favoritesDir);
    if (names.isEmpty())
        return {};
    return {QUrl::fromLocalFile(QStringLiteral("%1/%2").arg(favoritesDir, names.last()))};
}

} // namespace qr
