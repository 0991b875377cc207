#include "companion/CompanionMoves.h"

#include "platform/LogCategories.h"

#include "companion/SafeFileMove.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace qr {

namespace {

const QDir::Filters kEntries = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;

bool moveOne(const QString& source, const QString& destination)
{
    const bool moved = SafeFileMove::moveFile(source, destination);
    qCDebug(lcCompanion) << (moved ? "moved" : "left in place (destination not written):") << source << "->"
                         << destination;
    return moved;
}

bool usableDir(const QString& dir)
{
    return !dir.isEmpty() && QFileInfo(dir).isDir();
}

// Plain case-sensitive order of UTF-16 code units, the program's one ordering of file names.
QStringList sortedNames(QStringList names)
{
    std::stable_sort(names.begin(), names.end());
    return names;
}

} // namespace

QString CompanionMoves::pathExtension(const QString& name)
{
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

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
    const QStringList names = QDir(downloadsDir).entryList(kEntries | QDir::Hidden, QDir::Unsorted);
    for (const QString& name : names) {
        const QString ext = pathExtension(name);
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
    const QFileInfoList entries = QDir(txDir).entryInfoList(kEntries, QDir::Unsorted);
    for (const QFileInfo& entry : entries)
        paths.append(entry.absoluteFilePath());
    QStringList names = stripOffAllButLastPathComponent(paths);
    if (!names.isEmpty())
        names = sortedNames(names);
    for (const QString& name : names) {
        if (pathExtension(name) != QLatin1String("mp4"))
            continue;
        if (moveOne(txDir + QLatin1Char('/') + name, downloadsDir + QLatin1Char('/') + name))
            moved.append(name);
    }
    return moved;
}

} // namespace qr
