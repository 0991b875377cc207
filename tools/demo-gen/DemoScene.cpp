#include "DemoScene.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace qr {

DemoScene::DemoScene(QSize size, int setNumber, QColor ball) : m_size(size), m_set(setNumber), m_ball(ball) {}

QImage DemoScene::frame(int index, int count) const
{
    QImage image(m_size, QImage::Format_RGB32);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const double w = m_size.width(), h = m_size.height();
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor::fromHsv((m_set * 67) % 360, 90, 120));
    sky.setColorAt(1, QColor::fromHsv((m_set * 67 + 40) % 360, 140, 40));
    p.fillRect(image.rect(), sky);

    // One bounce per set: left to right, a parabola in height.
    const double t = count > 1 ? double(index) / double(count - 1) : 0.0;
    const double r = std::min(w, h) * 0.08;
    const double x = r + t * (w - 2 * r);
    const double bounce = std::abs(std::sin(t * M_PI * 2.0));
    const double y = h - r - bounce * (h * 0.7);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 70));
    p.drawEllipse(QPointF(x, h - r * 0.3), r, r * 0.25);
    p.setBrush(m_ball);
    p.drawEllipse(QPointF(x, y), r, r);

    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(int(h * 0.05));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(0, h * 0.03, w, h * 0.1), Qt::AlignHCenter | Qt::AlignTop,
               QStringLiteral("Set %1 · %2 / %3").arg(m_set).arg(index + 1).arg(count));
    return image;
}

} // namespace qr
