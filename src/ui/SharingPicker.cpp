#include "ui/SharingPicker.h"

#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QWidget>

namespace qr {

SharingPicker::SharingPicker(QObject* parent) : QObject(parent) {}

QList<SharingPicker::Service> SharingPicker::sharingServices()
{
    return {
        {QStringLiteral("Messages"),
         QStringLiteral("Send with a messaging service"),
         {{QStringLiteral("telegram-desktop"), QStringLiteral("-sendpath")}}},
        {QStringLiteral("Mail"),
         QStringLiteral("Send by e-mail"),
         {{QStringLiteral("xdg-email"), QStringLiteral("--attach")}}},
        {QStringLiteral("Nearby Device"),
         QStringLiteral("Send to a nearby device"),
         {{QStringLiteral("bluetooth-sendto")}, {QStringLiteral("kdeconnect-handler")}}},
    };
}

QStringList SharingPicker::commandFor(const Service& service, const QString& file)
{
    for (const QStringList& command : service.commands) {
        if (command.isEmpty())
            continue;
        const QString program = QStandardPaths::findExecutable(command.first());
        if (program.isEmpty())
            continue;
        QStringList result{program};
        result += command.mid(1);
        result << file;
        return result;
    }
    return {};
}

bool SharingPicker::share(const Service& service, const QList<QUrl>& items)
{
    if (items.isEmpty())
        return false;
    const QStringList command = commandFor(service, items.first().toLocalFile());
    if (command.isEmpty())
        return false;
    return QProcess::startDetached(command.first(), command.mid(1));
}

QMenu* SharingPicker::buildMenu(const QList<QUrl>& items, QWidget* parent)
{
    auto* menu = new QMenu(parent);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setAccessibleName(QStringLiteral("Share"));
    // One group of services per item, headed by the item's file name when there are several.
    const QList<QUrl> groups = items.isEmpty() ? QList<QUrl>{QUrl()} : items;
    for (const QUrl& item : groups) {
        const QString file = item.toLocalFile();
        if (groups.size() > 1)
            menu->addSection(QFileInfo(file).fileName());
        for (const Service& service : sharingServices()) {
            QAction* action = menu->addAction(service.title);
            action->setToolTip(service.accessibleName);
            action->setEnabled(!file.isEmpty() && !commandFor(service, file).isEmpty());
            connect(action, &QAction::triggered, menu, [service, item] { share(service, {item}); });
        }
    }
    return menu;
}

void SharingPicker::shareViaMessages(const QList<QUrl>& items, QWidget* anchor)
{
    if (m_menu)
        m_menu->close();
    QWidget* parent = anchor ? anchor->window() : nullptr;
    m_menu = buildMenu(items, parent);
    // Opens beside the anchor's left edge, as a picker shown from the minimum-x edge.
    const QPoint at = anchor ? anchor->mapToGlobal(QPoint(0, 0)) : QPoint();
    m_menu->popup(QPoint(at.x() - m_menu->sizeHint().width(), at.y()));
}

} // namespace qr
