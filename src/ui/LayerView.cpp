#include "ui/LayerView.h"

#include <QChildEvent>
#include <QPainter>
#include <QPainterPath>

namespace qr {

namespace {

// Paints the owner's border on top of the owner's children; never takes input.
class BorderOverlay : public QWidget {
public:
    BorderOverlay(QWidget* parent, const QColor* colour, const double* width, const double* radius)
        : QWidget(parent), m_colour(colour), m_width(width), m_radius(radius)
    {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setAttribute(Qt::WA_NoSystemBackground);
        setFocusPolicy(Qt::NoFocus);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        if (*m_width <= 0.0)
            return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPen pen(*m_colour);
        pen.setWidthF(*m_width);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        const double inset = *m_width * 0.5;
        p.drawRoundedRect(QRectF(rect()).adjusted(inset, inset, -inset, -inset), *m_radius, *m_radius);
    }

private:
    const QColor* m_colour;
    const double* m_width;
    const double* m_radius;
};

} // namespace

LayerView::LayerView(QWidget* parent) : QWidget(parent)
{
    m_borderOverlay = new BorderOverlay(this, &m_border, &m_borderWidth, &m_radius);
    m_borderOverlay->setGeometry(rect());
}

void LayerView::resizeEvent(QResizeEvent*)
{
    m_borderOverlay->setGeometry(rect());
}

void LayerView::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() && m_borderOverlay && event->child() != m_borderOverlay &&
        event->child()->isWidgetType())
        m_borderOverlay->raise();
}

QColor LayerView::toQColor(const Rgba& c)
{
    return QColor::fromRgbF(static_cast<float>(c.r), static_cast<float>(c.g), static_cast<float>(c.b),
                            static_cast<float>(c.a));
}

void LayerView::setBackgroundColour(const Rgba& colour)
{
    m_background = toQColor(colour);
    update();
}

void LayerView::setBorder(double width, const Rgba& colour)
{
    m_borderWidth = width;
    m_border = toQColor(colour);
    update();
    m_borderOverlay->update();
}

void LayerView::setCornerRadius(double radius)
{
    m_radius = radius;
    update();
}

void LayerView::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r = QRectF(rect());
    QPainterPath path;
    path.addRoundedRect(r, m_radius, m_radius);
    p.fillPath(path, m_background);
}

} // namespace qr
