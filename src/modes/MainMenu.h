#pragma once

#include "modes/ModeFlags.h"

#include <array>
#include <functional>

class QMenu;
class QMenuBar;

namespace qr {

// The program's only menu: the chosen mode's commands, then "Quit". Built once, after start-up.
class MainMenu {
public:
    struct Actions {
        std::function<void()> menuRefresh;
        std::array<std::function<void()>, 4> menuPresentationMode; // "MVC Mode #1" ... "#4"
        std::function<void()> menuToggleColors;
        // "Start Recording" / "Stop Recording" (capture master): the command and whether it records.
        std::function<void()> menuToggleRecording;
        std::function<bool()> isRecording;
        std::function<void()> menuToggleRepeatSet;
        std::function<void()> menuExportSetAsVideo; // the media player, once confirmed
        std::function<void()> quit;
    };

    // Adds the application menu to menuBar and returns it.
    static QMenu* configMainMenu(QMenuBar* menuBar, const ModeFlags& flags, const Actions& actions);
    // The height menuBar has, or will have once configMainMenu has filled it; 0 for a bar outside
    // the window (a desktop's global menu).
    static int menuBarHeight(QMenuBar* menuBar);
};

} // namespace qr
