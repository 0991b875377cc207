#include "companion/CompanionMoves.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"

#include "companion/SafeFileMove.h"

#include <QFileInfo>

namespace qr {

namespace {

bool moveOne(const QString& source, const QString& destination)
{
    QString error;
    const bool moved =
        SafeFileMove::moveFile(source, destination, SafeFileMove::Method::RenameWhenPossible, &error);
    if (moved)
        qCDebug(lcCompanion) << "moved" << source << "->" << destination;
    else
        qCDebug(lcCompanion).noquote() << "left in place:" << source << "-" << error;
    return moved;
}

bool usableDir(const QString& dir)
{
    return !dir.isEmpty() && QFileInfo(dir).isDir();
}

} // namespace

QStringList CompanionMoves::stripOffAllButLastPathComponent(const QStringList& paths)
{
    QStringList names;
    names.reserve(paths.size());
    for (const QString& path : paths) {
        qsizetype end = path.size();
        while (end > 1 && path.at(end - 1) == QLatin1Char('/'))
            --end;
        const QString trimmed = path.left(end);
        if (trimmed == QLatin1String("/")) {
            names.append(trimmed);
            continue;
        }
        names.append(trimmed.mid(trimmed.lastIndexOf(QLatin1Char('/')) + 1));
    }
    return names;
}

QStringList CompanionMoves::moveInputsToAppGroupSharedRxDir(const QString& downloadsDir, const QString& rxDir)
{
    QStringList moved;
    if (!usableDir(downloadsDir) || !usableDir(rxDir))
        return moved;
    // Only regular files move: a FIFO or device under a container's name is never read.
    const QStringList names =
        FileListing::names(downloadsDir, FileListing::Entries::RegularFiles, FileListing::Order::AsListed);
    for (const QString& name : names) {
        const QString ext = FileListing::extension(name);
        if (ext != QLatin1String("krox") && ext != QLatin1String("kroa"))
            continue;
        if (moveOne(downloadsDir + QLatin1Char('/') + name, rxDir + QLatin1Char('/') + name))
            moved.append(name);
    }
    return moved;
}

QStringList CompanionMoves::moveOutputsFromAppGroupSharedTxDir(const QString& txDir,
                                                               const QString& downloadsDir)
{
    QStringList moved;
    if (!usableDir(txDir) || !usableDir(downloadsDir))
        return moved;
    QStringList paths;
    for (const QString& name :
         FileListing::names(txDir, FileListing::Entries::RegularFiles, FileListing::Order::AsListed)) {
        if (!name.startsWith(QLatin1Char('.')))
            paths.append(txDir + QLatin1Char('/') + name);
    }
    QStringList names = stripOffAllButLastPathComponent(paths);
    if (!names.isEmpty())
        names = FileListing::sorted(names);
    for (const QString& name : names) {
        if (FileListing::extension(name) != QLatin1String("mp4"))
            continue;
        if (moveOne(txDir + QLatin1Char('/') + name, downloadsDir + QLatin1Char('/') + name))
            moved.append(name);
    }
    return moved;
}

} // namespace qr
