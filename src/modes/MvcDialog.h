#pragma once

#include <QString>

namespace qr {

// The Multi View Capture dialog: confirms the mode and takes the 6-digit code shared with the
// capture phones. What the answer does is the main controller's business.
class MvcDialog {
public:
    enum Result { Proceed = 1000, Cancel = 1001, SaveChanges = 1002 };

    struct Answer {
        Result result = Cancel;
        QString code; // the field's text as typed (the field starts empty)
    };

    static QString messageText();
    static QString informativeText();

    // Shows the dialog and returns when it is closed.
    static Answer run();
};

} // namespace qr
