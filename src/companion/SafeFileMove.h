#pragma once

#include <QString>

namespace qr {

// Moves one file so that it is never lost: the source is removed only after the destination holds
// all of its bytes, and a destination file of the same name is replaced only by a complete one.
class SafeFileMove {
public:
    enum class Method {
        RenameWhenPossible, // a rename within one file system, otherwise CopyThenRemove
        CopyThenRemove,     // always copy through a ReplacingFile in the destination folder
    };

    // True when the destination now holds the source's content. A failure leaves the source where
    // it was and no partial file behind. The source must be a regular file (or a link to one, whose
    // content is copied; the link itself is what gets removed). An existing link or folder at the
    // destination is left alone and makes the move fail. Moving a file onto itself does nothing.
    // A source that changes while it is copied is not taken. `error` receives what failed.
    static bool moveFile(const QString& source, const QString& destination,
                         Method method = Method::RenameWhenPossible, QString* error = nullptr);
};

} // namespace qr
