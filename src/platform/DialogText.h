#pragma once

#include <QString>

namespace qr {

// Pieces shared by the texts of the program's dialogs.
class DialogText {
public:
    // U+26AB MEDIUM BLACK CIRCLE with U+FE0E, so it is drawn as text, not as an emoji.
    static QString bullet();
};

} // namespace qr
