#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace qr {

// Companion mode's dialog: prepares the shared folders, asks which files to move and moves them.
// The alert itself is shown by the caller, so that this stays free of widgets.
class CompanionDialog {
public:
    enum Result { MoveInputs = 1000, MoveOutputs = 1001, MoveBoth = 1002, Dismiss = 1003 };

    struct Actions {
        std::function<void()> configForAppGroupSharing;
        // Shows a modal alert and returns 1000 + the index of the button pressed.
        std::function<int(const QString& messageText, const QString& informativeText,
                          const QStringList& buttons)>
            runModal;
        std::function<void()> moveInputsToAppGroupSharedRxDir;
        std::function<void()> moveOutputsFromAppGroupSharedTxDir;
    };

    static QString messageText();
    static QString informativeText();
    static QStringList buttonTitles();

    // Shown at the choice of companion mode and again by "Refresh"; never again by itself.
    static void presentQuintarayOnAppleSiMacDialog(const Actions& actions);
};

} // namespace qr
