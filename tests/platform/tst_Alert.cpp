// The modal alert as the user sees it: an accessory field sits between the texts and the buttons.
#include "platform/Alert.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

using qr::Alert;

class TestAlert : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void accessoryAboveButtons();
};

namespace {

// Runs `inspect` on the alert once it is on screen, polling until a deadline.
void whenShown(std::function<void(QMessageBox*)> inspect, int deadlineMs = 5000)
{
    auto* poll = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, clock, inspect = std::move(inspect), deadlineMs] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            poll->stop();
            inspect(box);
        } else if (clock->elapsed() > deadlineMs) {
            poll->stop();
        } else {
            return;
        }
        delete clock;
        poll->deleteLater();
    });
    poll->start();
}

} // namespace

void TestAlert::accessoryAboveButtons()
{
    Alert::setResponder(nullptr);
    Alert alert;
    alert.messageText = QStringLiteral("Multi View Capture");
    alert.informativeText = QStringLiteral("6-digit Secret Code");
    QLineEdit field;
    field.setFixedSize(200, 24);
    alert.accessoryView = &field;
    alert.addButtonWithTitle(QStringLiteral("Proceed"));
    alert.addButtonWithTitle(QStringLiteral("Cancel"));
    alert.addButtonWithTitle(QStringLiteral("Save Changes"));

    int fieldTop = -1, fieldBottom = -1, buttonsTop = -1, textBottom = -1;
    QStringList order;
    whenShown([&](QMessageBox* box) {
        auto* buttons = box->findChild<QDialogButtonBox*>();
        if (buttons)
            buttonsTop = buttons->mapTo(box, QPoint(0, 0)).y();
        fieldTop = field.mapTo(box, QPoint(0, 0)).y();
        fieldBottom = field.mapTo(box, QPoint(0, field.height())).y();
        for (const QLabel* l : box->findChildren<QLabel*>())
            if (l->isVisible() && l->text().contains(QLatin1String("Secret Code")))
                textBottom = l->mapTo(box, QPoint(0, l->height())).y();
        for (QAbstractButton* b : buttons ? buttons->buttons() : QList<QAbstractButton*>())
            order.append(b->text());
        // Answered with the second button, as a user's click.
        if (buttons)
            for (QAbstractButton* b : buttons->buttons())
                if (b->text() == QLatin1String("Cancel"))
                    b->click();
    });
    QCOMPARE(alert.runModal(), Alert::kFirstButtonReturn + 1);
    QVERIFY2(fieldBottom >= 0 && buttonsTop >= 0, "the alert was not shown");
    QVERIFY2(
        fieldBottom <= buttonsTop,
        qPrintable(QStringLiteral("field ends at %1, buttons start at %2").arg(fieldBottom).arg(buttonsTop)));
    QVERIFY2(textBottom >= 0 && textBottom <= fieldTop,
             qPrintable(QStringLiteral("text ends at %1, field starts at %2").arg(textBottom).arg(fieldTop)));
    QCOMPARE(order.size(), 3);
    QVERIFY(!field.parent()); // handed back to its owner
}

QTEST_MAIN(TestAlert)
#include "tst_Alert.moc"
