#include "companion/CompanionDialog.h"

#include "platform/DialogText.h"

namespace qr {

QString CompanionDialog::messageText()
{
    return QStringLiteral("\nQuintaray TV/Studio is now running in its Quintaray' \"companion mode\"");
}

QString CompanionDialog::informativeText()
{
    const QString b = DialogText::bullet();
    const QString inputs =
        QStringLiteral("\n%1 Tap \"Move Inputs\" to move the .krox AND .kroa files in your\n "
                       "~/Downloads folder into Quintaray.\n")
            .arg(b);
    const QString outputs =
        QStringLiteral("\n%1 Tap \"Move Outputs\" to move the Videos stored inside Quintaray "
                       "to your\n ~/Downloads folder.\n")
            .arg(b);
    const QString both = QStringLiteral("\n%1 Tap \"Move Both\" to perform both operations.\n").arg(b);
    return inputs + outputs + both;
}

QStringList CompanionDialog::buttonTitles()
{
    return {QStringLiteral("Move Inputs"), QStringLiteral("Move Outputs"), QStringLiteral("Move Both"),
            QStringLiteral("Dismiss")};
}

void CompanionDialog::presentQuintarayOnAppleSiMacDialog(const Actions& actions)
{
    if (actions.configForAppGroupSharing)
        actions.configForAppGroupSharing();
    if (!actions.runModal)
        return;
    const int result = actions.runModal(messageText(), informativeText(), buttonTitles());
    const bool inputs = result == MoveInputs || result == MoveBoth;
    const bool outputs = result == MoveOutputs || result == MoveBoth;
    if (inputs && actions.moveInputsToAppGroupSharedRxDir)
        actions.moveInputsToAppGroupSharedRxDir();
    if (outputs && actions.moveOutputsFromAppGroupSharedTxDir)
        actions.moveOutputsFromAppGroupSharedTxDir();
}

} // namespace qr
