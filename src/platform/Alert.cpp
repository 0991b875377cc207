#include "platform/Alert.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <array>
#include <utility>

namespace qr {

namespace {
Alert::Responder& responder()
{
    static Alert::Responder r;
    return r;
}

// Puts `accessory` into the alert's grid between its texts and its row of buttons, as the field
// that the buttons act on. The grid cannot insert a row: the buttons move down one.
void addAboveButtons(QGridLayout* grid, QDialogButtonBox* buttons, QWidget* accessory)
{
    const int index = buttons ? grid->indexOf(buttons) : -1;
    if (index < 0) {
        grid->addWidget(accessory, grid->rowCount(), 0, 1, grid->columnCount());
        return;
    }
    int row = 0, column = 0, rowSpan = 1, columnSpan = 1;
    grid->getItemPosition(index, &row, &column, &rowSpan, &columnSpan);
    const int columns = grid->columnCount();
    delete grid->takeAt(index);
    // Anything the alert placed below its buttons moves down with them.
    QList<std::pair<QLayoutItem*, std::array<int, 4>>> below;
    for (int i = grid->count() - 1; i >= 0; --i) {
        int r = 0, c = 0, rs = 1, cs = 1;
        grid->getItemPosition(i, &r, &c, &rs, &cs);
        if (r > row)
            below.prepend({grid->takeAt(i), {r, c, rs, cs}});
    }
    grid->addWidget(accessory, row, 0, 1, columns);
    grid->addWidget(buttons, row + 1, column, rowSpan, columnSpan);
    for (const auto& [item, p] : below)
        grid->addItem(item, p[0] + 1, p[1], p[2], p[3]);
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
            addAboveButtons(grid, box.findChild<QDialogButtonBox*>(), accessoryView);
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
