#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>

namespace qr {

// The containers a pass has unpacked, remembered in a small file between passes and runs, so that a
// container is not unpacked again while everything it wrote still stands: a few megabytes of
// compressed frames would otherwise become gigabytes of writing at every pass. A container is known
// by its path and by the identity of the file (device, inode, size, modification and change times:
// a rewrite, even one that keeps the modification time, changes the change time). An output stands
// while a regular file of the size written is under its name; a compressed frame also while its
// decompressed `.rgb` is there. Not thread-safe: one pass uses it at a time.
class UnpackedContainers {
public:
    // `recordPath` empty: nothing is remembered and every container is unpacked.
    explicit UnpackedContainers(QString recordPath);

    // Whether the container at `path` is the one recorded, with all its outputs standing.
    bool stillUnpacked(const QString& path) const;
    // Records the container at `path` as unpacked into `written` (absolute paths).
    void remember(const QString& path, const QStringList& written);
    // Forgets the container at `path`.
    void forget(const QString& path);
    // Writes the record, keeping only the containers in `seen`; false when it could not be written.
    bool save(const QStringList& seen);

private:
    struct Output {
        QString path;
        std::int64_t size = 0;
    };
    struct Entry {
        QString identity;
        QList<Output> outputs;
    };
    static QString identityOf(const QString& path);
    static bool stands(const Output& output);

    QString m_recordPath;
    QHash<QString, Entry> m_entries;
    bool m_changed = false;
};

} // namespace qr
