#include "ui/PbCtlrView.h"

#include "ui/PbCtlrViewPlaybackDelegate.h"
#include "ui/PointRect.h"

#include <QPushButton>

namespace qr {

namespace {

const std::array<PbCtlrView::ButtonSpec, PbCtlrView::ButtonCount> kSpecs{{
    {u"\u25B6\uFE0E", TransportCommand::PlayPause, 0, "Play", "Space"},
    {u"\u2016\uFE0E", TransportCommand::PlayPause, 0, "Pause", "Space"},
    {u"\u27A1\uFE0E", TransportCommand::NextPhoto, 1, "Next photo", "Right"},
    {u"\u2B05\uFE0E", TransportCommand::PreviousPhoto, -1, "Previous photo", "Left"},
    {u"\u252B\uFE0E", TransportCommand::LastPhoto, 2, "Last photo", "End"},
    {u"\u2523\uFE0E", TransportCommand::FirstPhoto, -2, "First photo", "Home"},
    {u"\u2B06\uFE0E", TransportCommand::NextSet, 3, "Next set", "Page Up"},
    {u"\u2B07\uFE0E", TransportCommand::PreviousSet, -3, "Previous set", "Page Down"},
}};

constexpr float kButtonWidth = 60.0f;
constexpr float kButtonHeight = 40.0f;
constexpr float kButtonY = 2.5f;

} // namespace

const PbCtlrView::ButtonSpec& PbCtlrView::buttonSpec(Button b)
{
    return kSpecs[static_cast<size_t>(b)];
}

PbCtlrView::PbCtlrView(QWidget* parent) : LayerView(parent)
{
    setAccessibleName(QStringLiteral("Playback controls"));
}

float PbCtlrView::buttonX(float barWidth, float shiftAdjust, int offset)
{
    // Products in single precision: +2 is a sum, +-3 a product by 3.0.
    float shift = 0.0f;
    if (offset == 1 || offset == -1)
        shift = shiftAdjust;
    else if (offset == 2 || offset == -2)
        shift = shiftAdjust + shiftAdjust;
    else if (offset == 3 || offset == -3)
        shift = shiftAdjust * 3.0f;
    if (offset < 0)
        shift = -shift;
    return (barWidth - kButtonWidth) * 0.5f + shift;
}

void PbCtlrView::configTheCtlr(float /*width*/, float /*horizScaleFactor*/)
{
    _iconIsAtPause = true;
    QFont glyphFont(QStringLiteral("DejaVu Sans"));
    glyphFont.setPixelSize(20);
    for (int i = 0; i < ButtonCount; ++i) {
        const ButtonSpec& s = kSpecs[static_cast<size_t>(i)];
        delete m_buttons[static_cast<size_t>(i)];
        auto* b = new QPushButton(QString::fromUtf16(s.title), this);
        b->setFont(glyphFont);
        b->setAccessibleName(QString::fromLatin1(s.accessibleName));
        b->setToolTip(QStringLiteral("%1 (%2)").arg(QString::fromLatin1(s.accessibleName),
                                                    QString::fromLatin1(s.keyHint)));
        b->setFocusPolicy(Qt::NoFocus);
        b->setStyleSheet(QStringLiteral(
            "QPushButton { color: #1e1e1e; border: 1px solid #6c6c78; border-radius: 3px; padding: 0px;"
            " background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #f6f6f6, stop:1 #d2d2d6); }"
            "QPushButton:pressed { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #b9b9c0,"
            " stop:1 #a4a4ac); }"));
        const float x = buttonX(static_cast<float>(width()), _shiftAdjust, s.offset);
        b->setGeometry(qtRect({x, kButtonY, kButtonWidth, kButtonHeight}, height()));
        b->hide();
        connect(b, &QPushButton::clicked, this, [this, i] { buttonAction(static_cast<Button>(i)); });
        m_buttons[static_cast<size_t>(i)] = b;
    }
    // A new bar shows pause: playback starts at once with every set.
    for (const Button b : {Pause, FwdOne, BackOne, GoToEnd, GoToBeginning, NextSet, PrevSet})
        m_buttons[b]->show();
}

void PbCtlrView::buttonAction(Button b)
{
    triggerPlaybackAction(kSpecs[b].command);
    configPlayResume(0, false, true, b == Play);
}

void PbCtlrView::triggerPlaybackAction(TransportCommand command)
{
    const QPointer<QObject> strong = m_delegate;
    if (auto* d = dynamic_cast<PbCtlrViewPlaybackDelegate*>(strong.data()))
        d->toContainerVCFromPbCtlrView(this, command);
}

void PbCtlrView::configPlayResume(int32_t, bool, bool dirCtlEn, bool setPlayPauseToPause)
{
    if (!m_buttons[Play])
        return;
    m_buttons[Play]->hide();
    m_buttons[Pause]->hide();
    if (dirCtlEn) {
        _iconIsAtPause = setPlayPauseToPause;
    }
    m_buttons[_iconIsAtPause ? Pause : Play]->show();
}

void PbCtlrView::pressCommand(TransportCommand command)
{
    if (!m_buttons[Play])
        return;
    if (command == TransportCommand::PlayPause) {
        (_iconIsAtPause ? m_buttons[Pause] : m_buttons[Play])->click();
        return;
    }
    for (int i = FwdOne; i < ButtonCount; ++i) {
        if (kSpecs[static_cast<size_t>(i)].command == command)
            m_buttons[static_cast<size_t>(i)]->click();
    }
}

} // namespace qr
