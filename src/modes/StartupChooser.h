#pragma once

#include "modes/ModeFlags.h"

#include <QString>

#include <functional>

namespace qr {

// The start-up mode chooser: sets the mode flags, then runs the chosen mode's own dialog.
class StartupChooser {
public:
    enum Result { CompanionMode = 1000, MultiViewCapture = 1001, MediaPlayer = 1002, Cancel = 1003 };

    struct Dialogs {
        std::function<void()> presentStartupDialog;
        std::function<void()> presentMultiViewCaptureDialog;
        std::function<void()> presentQuintarayOnAppleSiMacDialog;
    };

    static QString messageText();
    static QString informativeText();

    // Returns only after the chosen mode's dialog has returned.
    static void presentNewInitDialog(ModeFlags& flags, const Dialogs& dialogs);
};

} // namespace qr
