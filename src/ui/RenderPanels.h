#pragma once

#include "ui/DisplayLayout.h"

#include <QImage>
#include <QPointer>

#include <array>

namespace qr {

class ImageView;
class LayerView;

// The four display panels (render views 1 to 4), each with an image view filling it. Rebuilding a
// panel replaces it and its image view with new widgets.
class RenderPanels {
public:
    explicit RenderPanels(QWidget* container) : m_container(container) {}
    ~RenderPanels();
    RenderPanels(const RenderPanels&) = delete;
    RenderPanels& operator=(const RenderPanels&) = delete;

    // Removes panel n (1 to 4) and builds a new one at `frame` (points, in the container), with the
    // panel style and the background for `toggleColors`.
    void configRenderView(int n, const PointRect& frame, bool toggleColors);
    // Removes and drops image views 1 to 3 and all four panels.
    void removeAll();

    LayerView* renderView(int n) const;
    ImageView* imageView(int n) const;
    // The frame each panel was last built with, in points.
    const PointRect& frame(int n) const { return m_frames[static_cast<size_t>(n - 1)]; }
    void setFrame(int n, const PointRect& frame);
    QWidget* container() const { return m_container; }

    // Fills a right-column panel with `image`, cropping it symmetrically (high-quality scaling).
    // `scale` is the device pixel ratio the result is made for. Null for a null image.
    static QImage resizeImage(const QImage& image, double widthOfTheRightColumn, double containerHeight,
                              double scale);

private:
    QWidget* m_container;
    std::array<QPointer<LayerView>, 4> m_views;
    std::array<QPointer<ImageView>, 4> m_imageViews;
    std::array<PointRect, 4> m_frames{};
};

} // namespace qr
