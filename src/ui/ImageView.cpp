#include "ui/ImageView.h"

#include "player/PhotoDecoder.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qr {

ImageView::ImageView(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void ImageView::setImage(const QImage& image)
{
    m_image = image;
    m_scaled = QImage();
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
    const qreal dpr = devicePixelRatioF();
    const QSize box(static_cast<int>(std::lround(target.width() * dpr)),
                    static_cast<int>(std::lround(target.height() * dpr)));
    // Enlarged, or with transparency (the box filter works on opaque pixels), the painter scales.
    if (m_image.width() <= box.width() || m_image.height() <= box.height() || box.isEmpty() ||
        m_image.hasAlphaChannel()) {
        p.drawImage(target, m_image);
        return;
    }
    if (m_scaled.isNull() || m_scaledBox != box) {
        m_scaled = PhotoDecoder::scaledToFit(m_image, box);
        m_scaled.setDevicePixelRatio(dpr);
        m_scaledBox = box;
    }
    if (m_scaled.isNull()) {
        p.drawImage(target, m_image);
        return;
    }
    p.drawImage(target.topLeft(), m_scaled);
}

} // namespace qr
