#pragma once

#include "player/TransportCommand.h"
#include "ui/LayerView.h"

#include <QPointer>

#include <array>
#include <cstdint>

#include <QPushButton>

namespace qr {

class PbCtlrViewPlaybackDelegate;

// The media player's transport bar: eight square glyph buttons, of which seven show at a time
// (play and pause share the centre). Each button sends its command to the delegate, then
// sets which of play and pause is on the bar.
class PbCtlrView : public LayerView {
    Q_OBJECT
public:
    enum Button { Play, Pause, FwdOne, BackOne, GoToEnd, GoToBeginning, NextSet, PrevSet, ButtonCount };

    struct ButtonSpec {
        const char16_t* title; // symbol + U+FE0E
        TransportCommand command;
        int offset; // multiple of the spacing, from the centre
        const char* accessibleName;
        const char* keyHint;
    };
    static const ButtonSpec& buttonSpec(Button b);

    explicit PbCtlrView(QWidget* parent = nullptr);

    // Spacing between neighbouring button positions, in points; set before configTheCtlr.
    float _shiftAdjust = 0.0f;
    // Builds and places the buttons; both arguments are accepted and unused.
    void configTheCtlr(float width, float horizScaleFactor);

    // The delegate is held weakly: an object that is gone, or that is not a
    // PbCtlrViewPlaybackDelegate, receives nothing.
    void setDelegate(QObject* delegate) { m_delegate = delegate; }
    QObject* delegate() const { return m_delegate.data(); }

    bool iconIsAtPause() const { return _iconIsAtPause; }
    QPushButton* button(Button b) const { return m_buttons[b]; }
    // Where the buttons are placed, in the bar's points (x of the button's left edge).
    static float buttonX(float barWidth, float shiftAdjust, int offset);

    void triggerPlaybackAction(TransportCommand command);
    void configPlayResume(int32_t unused, bool dontToggle, bool dirCtlEn, bool setPlayPauseToPause);

    // Presses the button for a command as a click would (used by the keyboard).
    void pressCommand(TransportCommand command);

private:
    void buttonAction(Button b);

    bool _iconIsAtPause = false;
    std::array<QPushButton*, ButtonCount> m_buttons{};
    QPointer<QObject> m_delegate;
};

} // namespace qr
