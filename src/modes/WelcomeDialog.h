#pragma once

#include <QString>

namespace qr {

// The media player's welcome dialog: what the player expects in the Downloads folder.
class WelcomeDialog {
public:
    enum Result { Proceed = 1000, Cancel = 1001 };

    static QString messageText();
    static QString informativeText();

    // Shows the dialog; true when the user chose "Proceed".
    static bool run();
};

} // namespace qr
