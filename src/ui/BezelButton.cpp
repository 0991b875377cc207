#include "ui/BezelButton.h"

namespace qr {

BezelButton::BezelButton(const QString& title, QWidget* parent) : QPushButton(title, parent)
{
    setFocusPolicy(Qt::TabFocus);
    setStyleSheet(QStringLiteral(
        "QPushButton { color: #1e1e1e; border: 1px solid #8a8a8a; border-radius: 3px; padding: 0px 2px;"
        " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #fbfbfb, stop:1 #dedede); }"
        "QPushButton:pressed { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #c8c8c8,"
        " stop:1 #b4b4b4); }"
        "QPushButton:focus { border: 1px solid #3b82f6; }"));
}

} // namespace qr
