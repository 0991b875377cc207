// The program's own start-up, modes and player, run as a native Wayland client and driven from
// inside: every alert is the real dialog, shown by the compositor (its window exposed, a compositor
// screenshot taken) before its button is clicked. Wayland gives a client no way to inject input
// into another, so the clicks go through the widgets' own API.
//   wayland_driver MODE ART   MODE: player | mvc | companion
#include "app/AppDelegate.h"
#include "app/ContainerVC.h"
#include "platform/Alert.h"
#include "platform/MainWindow.h"
#include "ui/ImageView.h"
#include "ui/PlayerUi.h"
#include "ui/RenderPanels.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <cstdio>

namespace {

QString g_art;
int g_shots = 0;
bool g_failed = false;

void fail(const QString& what)
{
    std::printf("FAIL: %s\n", qPrintable(what));
    std::fflush(stdout);
    g_failed = true;
}

// Runs the event loop until `done` holds or `ms` pass.
bool waitFor(const std::function<bool()>& done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    return done();
}

// A compositor screenshot (weston's screenshooter), kept as ART/wayland-NAME.png.
void screenshot(const QString& name)
{
    QProcess p;
    p.setWorkingDirectory(g_art);
    const QStringList before = QDir(g_art).entryList({QStringLiteral("wayland-screenshot-*.png")});
    p.start(QStringLiteral("weston-screenshooter"), {});
    waitFor([&p] { return p.state() == QProcess::NotRunning; }, 10000);
    for (const QString& f : QDir(g_art).entryList({QStringLiteral("wayland-screenshot-*.png")})) {
        if (!before.contains(f)) {
            const QString to = g_art + QStringLiteral("/wayland-%1.png").arg(name);
            QFile::remove(to);
            QFile::rename(g_art + QLatin1Char('/') + f, to);
            std::printf("screenshot %s\n", qPrintable(to));
            ++g_shots;
            return;
        }
    }
    std::printf("no screenshot of %s (weston-screenshooter: %s)\n", qPrintable(name),
                qPrintable(QString::fromLocal8Bit(p.readAllStandardError()).trimmed()));
}

QAbstractButton* buttonTitled(QWidget* top, const QString& title)
{
    for (QAbstractButton* b : top->findChildren<QAbstractButton*>()) {
        if (b->text() == title && b->isVisible())
            return b;
    }
    return nullptr;
}

QStringList g_answers;
QString g_mode;
int g_alertNo = 0;

// Shows the real dialog; once the compositor has it on screen, it is photographed and the button
// answered clicked. The responder is taken away while the dialog runs (so runModal shows it) and
// put back afterwards; this function keeps no state in the responder itself.
int answerAlert(qr::Alert& alert)
{
    const QString answer = g_answers.value(g_alertNo);
    const QString name = QStringLiteral("%1-alert%2").arg(g_mode).arg(++g_alertNo);
    std::printf("%s: \"%s\", buttons: %s\n", qPrintable(name), qPrintable(alert.messageText),
                qPrintable(alert.buttons().join(QStringLiteral(", "))));
    std::fflush(stdout);
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->windowHandle() || !modal->windowHandle()->isExposed())
            return;
        poll.stop();
        std::printf("%s exposed by the compositor, %dx%d\n", qPrintable(name), modal->width(),
                    modal->height());
        if (auto* field = modal->findChild<QLineEdit*>())
            field->setText(QStringLiteral("314159"));
        screenshot(name);
        if (QAbstractButton* b = buttonTitled(modal, answer))
            b->click();
        else
            fail(QStringLiteral("no button \"%1\"").arg(answer));
    });
    poll.start();
    qr::Alert::setResponder(nullptr);
    const int result = alert.runModal();
    qr::Alert::setResponder(&answerAlert);
    return result;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Quintaray"));
    QCoreApplication::setApplicationName(QStringLiteral("quintaray-tv-studio"));
    const QString mode = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("player");
    g_art = argc > 2 ? QString::fromLocal8Bit(argv[2]) : QDir::tempPath();
    setvbuf(stdout, nullptr, _IOLBF, 0);
    std::printf("platform %s\n", qPrintable(QGuiApplication::platformName()));
    if (!QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        fail(QStringLiteral("not a Wayland client"));
        return 1;
    }

    // What each alert is answered with, in order of appearance.
    QStringList answers;
    if (mode == QLatin1String("player"))
        answers = {QStringLiteral("Burst Photo Set Media Player"), QStringLiteral("Proceed")};
    else if (mode == QLatin1String("mvc"))
        answers = {QStringLiteral("Multi View Capture (Master)"), QStringLiteral("Proceed")};
    else
        answers = {QStringLiteral("Quintaray on Apple Si Mac"), QStringLiteral("Dismiss")};

    g_answers = answers;
    g_mode = mode;
    qr::Alert::setResponder(&answerAlert);

    qr::AppDelegate delegate;
    delegate.applicationDidFinishLaunching();
    qr::MainWindow* w = delegate.window();
    qr::ContainerVC* vc = delegate.containerVC();
    if (g_alertNo != answers.size())
        fail(QStringLiteral("%1 alerts shown, %2 expected").arg(g_alertNo).arg(answers.size()));
    if (!waitFor([w] { return w->windowHandle() && w->windowHandle()->isExposed() && !w->isPlacing(); },
                 10000))
        fail(QStringLiteral("main window not exposed"));
    const QRect avail = w->screen()->availableGeometry();
    std::printf("main window: client %dx%d, frame %dx%d, available %dx%d\n", w->width(), w->height(),
                w->frameGeometry().width(), w->frameGeometry().height(), avail.width(), avail.height());

    if (mode == QLatin1String("player")) {
        QAbstractButton* generate = buttonTitled(w, QStringLiteral("Generate Playlist"));
        if (!generate) {
            fail(QStringLiteral("no Generate Playlist button"));
        } else {
            generate->click();
            // Playing: the main display shows a photo, then another one.
            qint64 first = 0;
            int changes = 0;
            waitFor(
                [&] {
                    qr::ImageView* iv = vc->_playerUi->panels().imageView(1);
                    const qint64 key = iv && !iv->image().isNull() ? iv->image().cacheKey() : 0;
                    if (key != 0 && key != first) {
                        first = key;
                        ++changes;
                    }
                    return changes >= 2;
                },
                15000);
            std::printf("main display changed %d times\n", changes);
            if (changes < 2)
                fail(QStringLiteral("the set does not play"));
        }
    } else if (mode == QLatin1String("mvc")) {
        if (!vc->_modes._mvcModeEn || !vc->_mvc._master)
            fail(QStringLiteral("Multi View Capture did not start"));
    } else {
        const QSize want(w->screen()->geometry().width() / 4, w->screen()->geometry().height() / 2);
        if (!vc->_modes._appGroupSharingEn)
            fail(QStringLiteral("companion mode not entered"));
        if (w->frameGeometry().size() != want)
            fail(QStringLiteral("companion frame %1x%2, expected %3x%4")
                     .arg(w->frameGeometry().width())
                     .arg(w->frameGeometry().height())
                     .arg(want.width())
                     .arg(want.height()));
    }
    waitFor([] { return false; }, 500);
    screenshot(mode);

    // Quit, as the menu item does it.
    QAction* quit = nullptr;
    for (QAction* top : w->menuBar()->actions()) {
        if (top->menu()) {
            for (QAction* a : top->menu()->actions()) {
                if (a->text() == QLatin1String("Quit"))
                    quit = a;
            }
        }
    }
    if (!quit) {
        fail(QStringLiteral("no Quit item"));
        return 1;
    }
    QTimer::singleShot(0, quit, &QAction::trigger);
    const int rc = QApplication::exec();
    delegate.applicationWillTerminate();
    std::printf("event loop ended with %d; %d compositor screenshots\n", rc, g_shots);
    if (rc != 0)
        fail(QStringLiteral("exit code %1 after Quit").arg(rc));
    if (!g_failed)
        std::printf("PASS\n");
    return g_failed ? 1 : rc;
}
