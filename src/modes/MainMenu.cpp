#include "modes/MainMenu.h"

#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>

namespace qr {

namespace {
const QString kMenuTitle = QStringLiteral("Quintaray TV/Studio");

QAction* addItem(QMenu* menu, const QString& title, QChar key, const std::function<void()>& action)
{
    QAction* item = menu->addAction(title);
    // Ctrl here; QKeySequence maps it to the command key on macOS.
    item->setShortcut(QKeySequence(QStringLiteral("Ctrl+") + key.toUpper()));
    item->setShortcutContext(Qt::ApplicationShortcut);
    QObject::connect(item, &QAction::triggered, menu, [action] {
        if (action)
            action();
    });
    return item;
}

QString recordingTitle(const std::function<bool()>& isRecording)
{
    return isRecording && isRecording() ? QStringLiteral("Stop Recording")
                                        : QStringLiteral("Start Recording");
}
} // namespace

QMenu* MainMenu::configMainMenu(QMenuBar* menuBar, const ModeFlags& flags, const Actions& actions)
{
    // The application menu; a bare menu bar entry needs a visible title on this platform.
    QMenu* menu = menuBar->addMenu(kMenuTitle);
    if (flags._appGroupSharingEn) {
        addItem(menu, QStringLiteral("Refresh"), QLatin1Char('r'), actions.menuRefresh);
    } else if (flags._mvcMasterEn) {
        for (int i = 0; i < 4; ++i)
            addItem(menu, QStringLiteral("MVC Mode #%1").arg(i + 1), QChar(u'1' + i),
                    actions.menuPresentationMode[i]);
        addItem(menu, QStringLiteral("MVC Toggle Colors"), QLatin1Char('c'), actions.menuToggleColors);
        // The title follows the state: set again after each use and whenever the menu opens.
        QAction* record = addItem(menu, recordingTitle(actions.isRecording), QLatin1Char('r'), {});
        QObject::connect(record, &QAction::triggered, menu, [record, actions] {
            if (actions.menuToggleRecording)
                actions.menuToggleRecording();
            record->setText(recordingTitle(actions.isRecording));
        });
        QObject::connect(menu, &QMenu::aboutToShow, record,
                         [record, actions] { record->setText(recordingTitle(actions.isRecording)); });
    } else {
        addItem(menu, QStringLiteral("Player Toggle Repeat"), QLatin1Char('r'), actions.menuToggleRepeatSet);
        if (flags._mediaPlayerModeEn)
            addItem(menu, QStringLiteral("Export Set as Video\u2026"), QLatin1Char('e'),
                    actions.menuExportSetAsVideo);
    }
    addItem(menu, QStringLiteral("Quit"), QLatin1Char('q'), actions.quit);
    return menu;
}

int MainMenu::menuBarHeight(QMenuBar* menuBar)
{
    if (!menuBar || menuBar->isNativeMenuBar())
        return 0;
    if (!menuBar->actions().isEmpty())
        return menuBar->isVisible() ? menuBar->height() : menuBar->sizeHint().height();
    // An empty bar has no height yet: measure one holding the menu's title, in the bar's font.
    QMenuBar probe;
    probe.setNativeMenuBar(false);
    probe.setFont(menuBar->font());
    probe.addMenu(kMenuTitle);
    return probe.sizeHint().height();
}

} // namespace qr
