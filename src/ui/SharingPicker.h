#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <QMenu>
class QWidget;

namespace qr {

// Offers files to the desktop's sharing programs: a messaging service, e-mail and a transfer to a
// nearby device, in that order. Each runs an external program; one that is not installed is shown
// disabled.
class SharingPicker : public QObject {
    Q_OBJECT
public:
    struct Service {
        QString title;
        QString accessibleName;
        // Candidate programs, the first one found on PATH is used, each with the arguments that go
        // before the file path.
        QList<QStringList> commands;
    };

    explicit SharingPicker(QObject* parent = nullptr);

    // The three services, in the order they are offered.
    static QList<Service> sharingServices();
    // The program and arguments that would share `file` through `service`; empty when none of its
    // programs is installed.
    static QStringList commandFor(const Service& service, const QString& file);

    // Builds the picker's menu for `items`: the services for each item, under the item's file name
    // when there are several (the actions carry the services).
    QMenu* buildMenu(const QList<QUrl>& items, QWidget* parent);
    // Shows the picker at the left edge of `anchor` without blocking.
    void shareViaMessages(const QList<QUrl>& items, QWidget* anchor);

    // Runs `service` on `items`; false when its program is missing or does not start.
    static bool share(const Service& service, const QList<QUrl>& items);

private:
    QPointer<QMenu> m_menu;
};

} // namespace qr
