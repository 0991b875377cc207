#include "ui/SegmentedControl.h"

#include <QAbstractButton>
#include <QPushButton>

#include <algorithm>

namespace qr {

SegmentedControl::SegmentedControl(const QStringList& labels, QWidget* parent) : QWidget(parent)
{
    m_group.setExclusive(true);
    const int n = static_cast<int>(labels.size());
    for (int i = 0; i < n; ++i) {
        auto* b = new QPushButton(labels[i], this);
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
        b->setAccessibleName(labels[i]);
        const QString left = i == 0 ? QStringLiteral("3px") : QStringLiteral("0px");
        const QString right = i == n - 1 ? QStringLiteral("3px") : QStringLiteral("0px");
        b->setStyleSheet(
            QStringLiteral("QPushButton { color: #1e1e1e; background: #f4f4f4; border: 1px solid #8a8a8a;"
                           " border-top-left-radius: %1; border-bottom-left-radius: %1;"
                           " border-top-right-radius: %2; border-bottom-right-radius: %2;"
                           " padding: 3px 8px; }"
                           "QPushButton:checked { color: white; background: #5a5a66; }"
                           "QPushButton:focus { border: 1px solid #3b82f6; }")
                .arg(left, right));
        m_group.addButton(b, i);
    }
    connect(&m_group, &QButtonGroup::idClicked, this, &SegmentedControl::segmentSelected);
    layoutSegments();
}

void SegmentedControl::setSelectedSegment(int index)
{
    if (QAbstractButton* b = m_group.button(index))
        b->setChecked(true);
}

QString SegmentedControl::label(int index) const
{
    const QAbstractButton* b = m_group.button(index);
    return b ? b->text() : QString();
}

void SegmentedControl::clickSegment(int index)
{
    if (QAbstractButton* b = m_group.button(index))
        b->click();
}

QSize SegmentedControl::sizeHint() const
{
    int w = 0;
    int h = 0;
    for (const QAbstractButton* b : m_group.buttons()) {
        const QSize s = b->sizeHint();
        w += s.width();
        h = std::max(h, s.height());
    }
    return {w, h};
}

void SegmentedControl::resizeEvent(QResizeEvent*)
{
    // A short control (the small size) gets a font that fits it.
    QFont f = font();
    if (height() < 22)
        f.setPixelSize(std::max(8, height() - 5));
    else
        f = QFont();
    for (QAbstractButton* b : m_group.buttons())
        b->setFont(f);
    layoutSegments();
}

void SegmentedControl::layoutSegments()
{
    const QList<QAbstractButton*> buttons = m_group.buttons();
    if (buttons.isEmpty())
        return;
    // Segments share the width in proportion to their labels, filling the control.
    const int total = std::max(1, sizeHint().width());
    int x = 0;
    for (int i = 0; i < buttons.size(); ++i) {
        QAbstractButton* b = m_group.button(i);
        const int w = i == buttons.size() - 1 ? width() - x : b->sizeHint().width() * width() / total;
        b->setGeometry(x, 0, w, height());
        x += w;
    }
}

} // namespace qr
