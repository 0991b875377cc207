#include "platform/ContainerView.h"

#include <QChildEvent>
#include <QPalette>
#include <QResizeEvent>

#include <cmath>

namespace qr {

ContainerView::ContainerView(QWidget* parent) : QWidget(parent)
{
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::black);
    setPalette(p);
    setAccessibleName(QStringLiteral("Display"));
}

QRect ContainerView::qtRect(double x, double y, double width, double height) const
{
    const double top = static_cast<double>(this->height()) - y - height;
    const int left = static_cast<int>(std::lround(x));
    const int t = static_cast<int>(std::lround(top));
    const int right = static_cast<int>(std::lround(x + width));
    const int bottom = static_cast<int>(std::lround(top + height));
    return QRect(left, t, right - left, bottom - t);
}

void ContainerView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    const int previous = m_placedHeight;
    m_placedHeight = event->size().height();
    if (previous < 0)
        return;
    const int dy = event->size().height() - previous;
    if (dy == 0)
        return;
    for (QObject* o : children())
        if (auto* w = qobject_cast<QWidget*>(o); w && w->isWindow() == false)
            w->move(w->x(), w->y() + dy);
}

void ContainerView::childEvent(QChildEvent* event)
{
    QWidget::childEvent(event);
    if (event->added() && event->child()->isWidgetType())
        m_placedHeight = height();
}

} // namespace qr
