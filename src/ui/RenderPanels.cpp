#include "ui/RenderPanels.h"

#include "ui/ImageView.h"
#include "ui/LayerView.h"
#include "ui/PanelStyle.h"
#include "ui/ThumbnailFit.h"

#include <QPainter>

#include <cmath>

namespace qr {

RenderPanels::~RenderPanels()
{
    removeAll();
}

void RenderPanels::configRenderView(int n, const PointRect& frame, bool toggleColors)
{
    if (n < 1 || n > 4)
        return;
    const auto i = static_cast<size_t>(n - 1);
    delete m_views[i];
    auto* view = new LayerView(m_container);
    view->setObjectName(QStringLiteral("renderView%1").arg(n));
    view->setAccessibleName(
        n == 1 ? QStringLiteral("Main display")
               : (n == 4 ? QStringLiteral("Control panel") : QStringLiteral("Preview %1").arg(n - 1)));
    m_frames[i] = frame;
    view->setGeometry(qtRect(frame, m_container->height()));
    view->setBorder(PanelStyle::borderWidth, PanelStyle::accent);
    view->setCornerRadius(PanelStyle::cornerRadius);
    view->setBackgroundColour(PanelStyle::background(n, toggleColors));
    auto* iv = new ImageView(view);
    iv->setObjectName(QStringLiteral("livePreviewIV%1").arg(n));
    iv->setGeometry(qtRect({0, 0, frame.width, frame.height}, frame.height));
    iv->lower();
    m_views[i] = view;
    m_imageViews[i] = iv;
    view->show();
    iv->show();
}

void RenderPanels::setFrame(int n, const PointRect& frame)
{
    if (n < 1 || n > 4 || !m_views[static_cast<size_t>(n - 1)])
        return;
    m_frames[static_cast<size_t>(n - 1)] = frame;
    m_views[static_cast<size_t>(n - 1)]->setGeometry(qtRect(frame, m_container->height()));
}

void RenderPanels::removeAll()
{
    for (size_t i = 0; i < 4; ++i) {
        delete m_views[i]; // takes its image view with it
        m_views[i] = nullptr;
        m_imageViews[i] = nullptr;
    }
}

LayerView* RenderPanels::renderView(int n) const
{
    return n >= 1 && n <= 4 ? m_views[static_cast<size_t>(n - 1)].data() : nullptr;
}

ImageView* RenderPanels::imageView(int n) const
{
    return n >= 1 && n <= 4 ? m_imageViews[static_cast<size_t>(n - 1)].data() : nullptr;
}

QImage RenderPanels::resizeImage(const QImage& image, double column, double containerHeight, double scale)
{
    if (image.isNull())
        return {};
    const auto plan = ThumbnailFit::plan(image.width(), image.height(), column, containerHeight);
    if (!plan || !(scale > 0.0))
        return {};
    const int w = static_cast<int>(std::ceil(plan->targetWidth * scale));
    const int h = static_cast<int>(std::ceil(plan->targetHeight * scale));
    QImage out(w, h, QImage::Format_ARGB32_Premultiplied);
    out.setDevicePixelRatio(scale);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setCompositionMode(QPainter::CompositionMode_Source);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF source(plan->sourceX, plan->sourceY, plan->sourceWidth, plan->sourceHeight);
    // The painter works in points on a high-density image: draw over the target's full size.
    if (source.width() * 2 < w || source.height() * 2 < h) {
        p.drawImage(QRectF(0, 0, plan->targetWidth, plan->targetHeight), image, source);
    } else {
        // Downscaling by more than half: area-averaged scaling looks better than the painter's
        // bilinear filter.
        const QImage cropped = image.copy(source.toAlignedRect());
        const QImage scaled = cropped.scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        p.drawImage(QRectF(0, 0, plan->targetWidth, plan->targetHeight), scaled);
    }
    return out;
}

} // namespace qr
