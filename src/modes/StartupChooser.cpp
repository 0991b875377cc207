#include "modes/StartupChooser.h"

#include "platform/Alert.h"

namespace qr {

QString StartupChooser::messageText()
{
    return QStringLiteral("\nQuintaray TV/Studio\n\nv1.3 / Build #74");
}

QString StartupChooser::informativeText()
{
    return QStringLiteral("\nWorks ONLY with the\n\"Quintaray\"\nBurst Photo Camera App\n");
}

void StartupChooser::presentNewInitDialog(ModeFlags& flags, const Dialogs& dialogs)
{
    flags._appGroupSharingEn = false;
    flags._mvcMasterEn = false;

    Alert alert;
    alert.messageText = messageText();
    alert.informativeText = informativeText();
    alert.addButtonWithTitle(QStringLiteral("Quintaray on Apple Si Mac"));
    alert.addButtonWithTitle(QStringLiteral("Multi View Capture (Master)"));
    alert.addButtonWithTitle(QStringLiteral("Burst Photo Set Media Player"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));

    // Flags are set before the mode's dialog, so the mode counts as chosen even if it is cancelled.
    switch (alert.runModal()) {
    case MediaPlayer:
        if (dialogs.presentStartupDialog)
            dialogs.presentStartupDialog();
        break;
    case MultiViewCapture:
        flags._mvcMasterEn = true;
        if (dialogs.presentMultiViewCaptureDialog)
            dialogs.presentMultiViewCaptureDialog();
        break;
    case CompanionMode:
        if (flags._appleSiMacEn) {
            flags._appGroupSharingEn = true;
            if (dialogs.presentQuintarayOnAppleSiMacDialog)
                dialogs.presentQuintarayOnAppleSiMacDialog();
        }
        break;
    default:
        break;
    }
}

} // namespace qr
