#pragma once

#include "ui/PanelStyle.h"

#include <QColor>
#include <QWidget>

namespace qr {

// A layer-backed view: a rounded background, and a border drawn above its children as a layer's
// border is. Children are clipped to its bounds.
class LayerView : public QWidget {
    Q_OBJECT
public:
    explicit LayerView(QWidget* parent = nullptr);

    void setBackgroundColour(const Rgba& colour);
    QColor backgroundColour() const { return m_background; }
    void setBorder(double width, const Rgba& colour);
    double borderWidth() const { return m_borderWidth; }
    void setCornerRadius(double radius);

    static QColor toQColor(const Rgba& c);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    QColor m_background = Qt::transparent;
    QColor m_border = Qt::transparent;
    double m_borderWidth = 0;
    double m_radius = 0;
    QWidget* m_borderOverlay = nullptr;
};

} // namespace qr
