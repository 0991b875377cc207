#include "platform/AppIcon.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace qr {

QImage AppIcon::render(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 300.0, size / 300.0);

    // Rounded tile.
    QLinearGradient bg(0, 0, 0, 300);
    bg.setColorAt(0.0, QColor(48, 48, 56));
    bg.setColorAt(1.0, QColor(16, 16, 20));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(10, 10, 280, 280), 56, 56);

    // A burst: three portrait frames fanned out, the front one in the accent colour.
    const QColor accent(210, 77, 87);
    const QColor frames[3] = {QColor(90, 90, 100), QColor(140, 140, 150), accent};
    for (int i = 0; i < 3; ++i) {
        p.save();
        p.translate(150, 160);
        p.rotate(-14.0 + 14.0 * i);
        p.translate(-60 + 14 * (i - 1), -80);
        p.setBrush(QColor(235, 235, 240));
        p.setPen(QPen(frames[i], 8));
        p.drawRoundedRect(QRectF(0, 0, 120, 160), 10, 10);
        p.restore();
    }

    // A lens on the front frame.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 36));
    p.drawEllipse(QPointF(150 + 14, 160), 40, 40);
    p.setBrush(accent);
    p.drawEllipse(QPointF(150 + 14, 160), 22, 22);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(150 + 6, 150), 7, 7);
    return image;
}

} // namespace qr
