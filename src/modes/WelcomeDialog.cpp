#include "modes/WelcomeDialog.h"

#include "platform/Alert.h"
#include "platform/DialogText.h"

namespace qr {

QString WelcomeDialog::messageText()
{
    return QStringLiteral("\nThe planet's first-ever,\n& still ONLY,\nBurst Photo Set Media Player !");
}

QString WelcomeDialog::informativeText()
{
    const QString b = DialogText::bullet();
    return QStringLiteral("%1 This Media Player will generate an Ordered-Playlist of the burst photo sets "
                          "in your\n~/Downloads folder.")
               .arg(b) +
           QStringLiteral("\n\n%1 As such, before proceeding, please make sure your ~/Downloads folder "
                          "contains ONLY burst photo sets captured by Quintaray.")
               .arg(b) +
           QStringLiteral("\n\n---") +
           QStringLiteral("\n\n%1 This Media Player is intended primarily for 3:4 aspect ratio "
                          "\"Portrait-orientation\" photos.")
               .arg(b) +
           QStringLiteral("\n\n---") +
           QStringLiteral("\n\n%1 Tap Proceed, then tap Generate Playlist.").arg(b) +
           QStringLiteral("\n\n%1 If available, KROX files will be processed first !").arg(b) +
           QStringLiteral("\n\n%1 If available, RGB2 files will be LZ4 Data DE-comp'd second !").arg(b) +
           QStringLiteral("\n\n%1 Support for RGB3 files has NOT yet been added.\n").arg(b);
}

bool WelcomeDialog::run()
{
    Alert alert;
    alert.messageText = messageText();
    alert.informativeText = informativeText();
    alert.addButtonWithTitle(QStringLiteral("Proceed"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    return alert.runModal() == Proceed;
}

} // namespace qr
