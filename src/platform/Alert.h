#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace qr {

// A modal alert: message text, informative text, buttons in the order added, optional accessory
// widget. runModal() returns 1000 for the first button, 1001 for the second, and so on.
class Alert {
public:
    static constexpr int kFirstButtonReturn = 1000;

    QString messageText;
    QString informativeText;
    QWidget* accessoryView = nullptr; // not owned; shown under the informative text

    void addButtonWithTitle(const QString& title) { m_buttons.append(title); }
    const QStringList& buttons() const { return m_buttons; }

    int runModal();

    // Tests answer alerts through this seam instead of showing a dialog: the responder sees the
    // whole alert and returns the value runModal() gives back. Pass nullptr to show real dialogs.
    using Responder = std::function<int(Alert&)>;
    static void setResponder(Responder responder);

private:
    QStringList m_buttons;
};

} // namespace qr
