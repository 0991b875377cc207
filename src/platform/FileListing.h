#pragma once

#include <QString>
#include <QStringList>

namespace qr {

// The program's one way of listing a folder: names in plain, case-sensitive, locale-independent
// order (UTF-16 code units, byte order for ASCII), hidden names included. Only regular files are
// ever handed on to be read; a link to a regular file counts as one.
class FileListing {
public:
    enum class Entries {
        All,          // every entry but "." and ".."
        RegularFiles, // regular files and links to them; no folders, FIFOs, sockets or devices
    };

    // Sorts names in the one order (stable, so equal names keep their order).
    static QStringList sorted(QStringList names);

    enum class Order {
        Plain,    // sorted
        AsListed, // as the file system returns them
    };

    // The names in `dir`; empty when `dir` cannot be listed.
    static QStringList names(const QString& dir, Entries entries, Order order = Order::Plain);

    // Relative paths ("a/b.jpg") of every regular file below `root`, at any depth, sorted. Links to
    // folders are not followed (a link loop cannot hang the listing); an unreadable folder lists
    // nothing. Folders are descended into whatever their names.
    static QStringList regularFilesBelow(const QString& root);

    // What follows the last dot of the path's last component, as written ("JPG" stays "JPG"); empty
    // when that component has no dot.
    static QString extension(const QString& path);
};

} // namespace qr
