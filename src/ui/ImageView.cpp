#include "ui/ImageView.h"

#include <QPainter>

#include <algorithm>

namespace qr {

ImageView::ImageView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageView::setImage(const QImage& image)
{
    m_image = image;
    update();
}

QRectF ImageView::imageRect() const
{
    if (m_image.isNull() || width() <= 0 || height() <= 0)
        return {};
    // The image's own size in logical pixels; a high-density image counts by its pixel ratio.
    const QSizeF natural = m_image.deviceIndependentSize();
    const double scale = std::min({1.0, width() / natural.width(), height() / natural.height()});
    const QSizeF shown = natural * scale;
    return QRectF((width() - shown.width()) * 0.5, (height() - shown.height()) * 0.5, shown.width(),
                  shown.height());
}

void ImageView::paintEvent(QPaintEvent*)
{
    const QRectF target = imageRect();
    if (target.isEmpty())
        return;
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(target, m_image);
}

} // namespace qr
