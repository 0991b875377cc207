#include "modes/MvcDialog.h"

#include "platform/Alert.h"

#include <QLineEdit>

namespace qr {

QString MvcDialog::messageText()
{
    return QStringLiteral("Multi View Capture");
}

QString MvcDialog::informativeText()
{
    return QStringLiteral("6-digit Secret Code");
}

MvcDialog::Answer MvcDialog::run()
{
    Alert alert;
    alert.messageText = messageText();
    alert.informativeText = informativeText();
    QLineEdit field;
    field.setFixedSize(200, 24);
    field.setAccessibleName(informativeText());
    alert.accessoryView = &field;
    alert.addButtonWithTitle(QStringLiteral("Proceed"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    alert.addButtonWithTitle(QStringLiteral("Save Changes"));
    const int result = alert.runModal();
    Answer answer;
    answer.result = result == Proceed || result == SaveChanges ? Result(result) : Cancel;
    answer.code = field.text();
    return answer;
}

} // namespace qr
