#pragma once

#include <QString>

namespace qr {

// The user-domain folders the program works with, resolved through the XDG user dirs.
class StandardFolders {
public:
    // The program's private data folder; never a folder other programs use.
    static QString applicationSupport();
    static QString downloads();
    // The user's videos folder (XDG_VIDEOS_DIR).
    static QString movies();
    // A folder that both this program and the phone application could use, named after the group.
    static QString applicationGroupContainer(const QString& groupIdentifier);
};

} // namespace qr
