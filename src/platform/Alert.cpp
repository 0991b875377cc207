#include "platform/Alert.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

namespace qr {

namespace {
Alert::Responder& responder()
{
    static Alert::Responder r;
    return r;
}
} // namespace

void Alert::setResponder(Responder r)
{
    responder() = std::move(r);
}

int Alert::runModal()
{
    if (responder())
        return responder()(*this);

    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Quintaray TV/Studio"));
    box.setWindowModality(Qt::ApplicationModal);
    box.setIcon(QMessageBox::NoIcon);
    // The message stands out in bold above the informative text, as alerts do on the desktop.
    box.setTextFormat(Qt::RichText);
    box.setText(QStringLiteral("<b>%1</b>")
                    .arg(messageText.toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>"))));
    box.setInformativeText(informativeText);
    QList<QPushButton*> pushButtons;
    for (const QString& title : m_buttons) {
        // One role for all keeps the buttons in the order they were added.
        QPushButton* b = box.addButton(title, QMessageBox::ActionRole);
        b->setAccessibleName(title);
        pushButtons.append(b);
        if (title == QLatin1String("Cancel") || title == QLatin1String("Dismiss"))
            box.setEscapeButton(b);
    }
    if (!pushButtons.isEmpty())
        box.setDefaultButton(pushButtons.first());
    if (accessoryView) {
        if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
            grid->addWidget(accessoryView, grid->rowCount(), 0, 1, grid->columnCount());
        // Whoever sees a field wants to type into it; Return still presses the first button.
        QTimer::singleShot(0, accessoryView,
                           [view = accessoryView] { view->setFocus(Qt::OtherFocusReason); });
    }
    box.exec();
    const int index = static_cast<int>(pushButtons.indexOf(qobject_cast<QPushButton*>(box.clickedButton())));
    if (accessoryView)
        accessoryView->setParent(nullptr);
    // Closing the box without a button answers like its last button.
    return kFirstButtonReturn + (index >= 0 ? index : static_cast<int>(m_buttons.size()) - 1);
}

} // namespace qr
