#include "ui/MvcControlStrip.h"

#include "ui/LayerView.h"
#include "ui/PointRect.h"

#include <QFont>
#include <QFontMetricsF>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

namespace qr {

namespace {

PointRect toPoints(const MvcStripRect& r)
{
    return PointRect{r.x, r.y, r.width, r.height};
}

Rgba rgba(MvcIndicatorColour c)
{
    const auto v = MvcSlotTable::rgb(c);
    return Rgba{v[0], v[1], v[2], 1.0};
}

} // namespace

MvcControlStrip::MvcControlStrip(QObject* parent) : QObject(parent) {}

MvcControlStrip::~MvcControlStrip() = default;

QString MvcControlStrip::stateDescription(MvcIndicatorColour colour)
{
    switch (colour) {
    case MvcIndicatorColour::Yellow:
        return tr("waiting");
    case MvcIndicatorColour::Green:
        return tr("ready");
    case MvcIndicatorColour::Red:
        return tr("failed");
    case MvcIndicatorColour::Orange:
        return tr("cancelled");
    case MvcIndicatorColour::Grey:
        break;
    }
    return tr("not connected");
}

void MvcControlStrip::configMvcIndicatorViews(LayerView* renderView4, double w4, double h4,
                                              float screenScaleFactor)
{
    for (auto& v : m_indicators)
        delete v.data();
    const auto l = MvcControlStripLayout::compute(w4, h4, screenScaleFactor);
    for (std::size_t n = 0; n < 3; ++n) {
        auto* v = new LayerView(renderView4);
        v->setGeometry(qtRect(toPoints(l.indicators[n]), h4));
        v->setBackgroundColour(rgba(MvcIndicatorColour::Grey));
        v->setBorder(MvcControlStripLayout::kIndicatorBorderWidth, Rgba{0, 0, 0, 1});
        v->setCornerRadius(l.indicatorCornerRadius);
        v->setAccessibleName(tr("Connection, position %1").arg(n + 1));
        v->setAccessibleDescription(stateDescription(MvcIndicatorColour::Grey));
        v->show();
        m_indicators[n] = v;
    }
}

void MvcControlStrip::configMvcSpeedLabels(LayerView* renderView4, double w4, double h4,
                                           float screenScaleFactor)
{
    for (auto& v : m_labels)
        delete v.data();
    const auto l = MvcControlStripLayout::compute(w4, h4, screenScaleFactor);
    QFont font(QStringLiteral("Helvetica Neue"));
    font.setFamilies(
        {QStringLiteral("Helvetica Neue"), QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setBold(true);
    // 50-point text cannot be read in a 60 x 30 field: the size shrinks until the widest figure fits.
    font.setPointSizeF(MvcControlStripLayout::kLabelFontPoints);
    const QSizeF box(l.speedLabels[0].width, l.speedLabels[0].height);
    while (font.pointSizeF() > 6.0) {
        const QFontMetricsF fm(font);
        if (fm.horizontalAdvance(QStringLiteral("00.0 fps")) <= box.width() && fm.height() <= box.height())
            break;
        font.setPointSizeF(font.pointSizeF() - 1.0);
    }
    for (std::size_t n = 0; n < 3; ++n) {
        auto* label = new QLabel(renderView4);
        label->setGeometry(qtRect(toPoints(l.speedLabels[n]), h4));
        label->setFont(font);
        label->setStyleSheet(QStringLiteral("QLabel { color: rgb(0, 0, 255); background: transparent; }"));
        label->setAlignment(Qt::AlignCenter);
        label->setText(QStringLiteral("xx.x fps"));
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        // The name says what the label is; its figure is the description, as screen readers expect.
        label->setAccessibleName(tr("Frame rate, position %1").arg(n + 1));
        label->setAccessibleDescription(tr("no frames yet"));
        label->raise();
        label->show();
        m_labels[n] = label;
    }
}

QImage MvcControlStrip::buttonImage(const QImage& icon, double side, double scale)
{
    if (icon.isNull())
        return {};
    const int s = std::min(icon.width(), icon.height());
    const QImage square = icon.copy((icon.width() - s) / 2, (icon.height() - s) / 2, s, s);
    const int px = std::max(1, int(side * scale + 0.5));
    QImage out = square.scaled(px, px, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    out.setDevicePixelRatio(scale);
    return out;
}

void MvcControlStrip::configRemoteShutterButtons(LayerView* renderView4, double w4, double h4,
                                                 float screenScaleFactor)
{
    // Earlier buttons went with the earlier render view 4.
    const auto l = MvcControlStripLayout::compute(w4, h4, screenScaleFactor);
    const double scale = renderView4->devicePixelRatioF();
    const QImage image =
        buttonImage(QImage(QStringLiteral(":/app_icon_300x300.png")), l.buttonImageSide, scale);
    const QColor border = Qt::white;
    for (std::size_t n = 0; n < 3; ++n) {
        auto* b = new QPushButton(renderView4);
        b->setGeometry(qtRect(toPoints(l.shutterButtons[n]), h4));
        if (!image.isNull()) {
            b->setIcon(QIcon(QPixmap::fromImage(image)));
            b->setIconSize(QSize(int(l.buttonImageSide), int(l.buttonImageSide)));
        }
        b->setStyleSheet(
            QStringLiteral("QPushButton { background-color: rgb(197, 52, 87); border: %1px solid %2; "
                           "border-radius: %3px; }")
                .arg(l.buttonBorderWidth)
                .arg(border.name())
                .arg(l.buttonCornerRadius));
        b->setAccessibleName(tr("Shutter, position %1").arg(n + 1));
        b->setFocusPolicy(Qt::TabFocus);
        connect(b, &QPushButton::clicked, this, [this, n] { Q_EMIT shutterPressed(int(n)); });
        b->raise();
        b->show();
        m_buttons[n] = b;
    }
}

void MvcControlStrip::setIndicatorColour(int view, MvcIndicatorColour colour)
{
    if (view < 0 || view >= 3 || !m_indicators[std::size_t(view)])
        return;
    LayerView* v = m_indicators[std::size_t(view)];
    v->setBackgroundColour(rgba(colour));
    v->setAccessibleDescription(stateDescription(colour));
}

void MvcControlStrip::setSpeedText(int view, const QString& text)
{
    if (view < 0 || view >= 3 || !m_labels[std::size_t(view)])
        return;
    QLabel* label = m_labels[std::size_t(view)];
    label->setText(text);
    label->setAccessibleDescription(text);
}

} // namespace qr
