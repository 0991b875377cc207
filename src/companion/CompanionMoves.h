#pragma once

#include <QString>
#include <QStringList>

namespace qr {

// The two moves of companion mode between the Downloads folder and the shared folder.
class CompanionMoves {
public:
    // Moves every .krox and .kroa file (lower-case extensions only, hidden names included) from
    // downloadsDir into rxDir, in the order the file system lists them. Returns the names moved.
    static QStringList moveInputsToAppGroupSharedRxDir(const QString& downloadsDir, const QString& rxDir);

    // Moves every .mp4 file of txDir (hidden names skipped) into downloadsDir, replacing a file of
    // the same name there, in plain character order. Returns the names moved.
    static QStringList moveOutputsFromAppGroupSharedTxDir(const QString& txDir, const QString& downloadsDir);

    // The last path component of each path, in the same order; trailing separators are ignored.
    static QStringList stripOffAllButLastPathComponent(const QStringList& paths);
};

} // namespace qr
