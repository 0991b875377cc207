#include "ui/ImageView.h"

#include "player/PhotoDecoder.h"

#include <QColor>
#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cmath>

namespace qr {

namespace {
// How much of a stale picture is darkened: it stays recognisable under its text.
constexpr int kStaleDimAlpha = 150;
} // namespace

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

void ImageView::setStaleText(const QString& text)
{
    if (text == m_staleText)
        return;
    m_staleText = text;
    update();
}

void ImageView::paintEvent(QPaintEvent*)
{
    const QRectF target = imageRect();
    if (target.isEmpty())
        return;
    QPainter p(this);
    paintImage(p, target);
    if (m_staleText.isEmpty())
        return;
    p.fillRect(target, QColor(0, 0, 0, kStaleDimAlpha));
    QFont font = p.font();
    font.setBold(true);
    font.setPixelSize(std::clamp(static_cast<int>(target.width() / 14), 12, 28));
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(target, Qt::AlignCenter | Qt::TextWordWrap, m_staleText);
}

void ImageView::paintImage(QPainter& p, const QRectF& target)
{
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
