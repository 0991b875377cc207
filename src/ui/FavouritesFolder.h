#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace qr {

// The Favorites folder: copies of photos the user kept during this run.
class FavouritesFolder {
public:
    // Entry names of `dir`, in plain character order; empty when it cannot be listed.
    static QStringList sortedListing(const QString& dir);
    // Copies the photo `name` of `sourceDir` into `favoritesDir` under the photo's own file name
    // through a ReplacingFile, so a favourite of that name is replaced only by a complete copy. False,
    // with a diagnostic, when the photo is no regular file or cannot be read, or the copy cannot be
    // written (a full disk).
    static bool copyInto(const QString& sourceDir, const QString& name, const QString& favoritesDir);
    // What Share offers: the favourite that sorts last, or nothing.
    static QList<QUrl> shareItems(const QString& favoritesDir);
};

} // namespace qr
