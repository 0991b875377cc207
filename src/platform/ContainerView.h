#pragma once

#include <QWidget>

namespace qr {

// The main controller's root view: black, draws nothing of its own; every panel, label and the
// controller bar are its children.
class ContainerView : public QWidget {
    Q_OBJECT
public:
    explicit ContainerView(QWidget* parent = nullptr);

    // Converts a rectangle in points with the origin at the bottom left of this view into this
    // view's Qt coordinates. The one place where the two coordinate systems meet.
    QRect qtRect(double x, double y, double width, double height) const;

protected:
    // Children keep their distance from the bottom-left corner when the view changes height.
    void resizeEvent(QResizeEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    // The height the children were placed for: the height when a child arrives, then after each
    // resize. A view resized while hidden gets one resize event without an old size when shown, so
    // the event's old size cannot be trusted.
    int m_placedHeight = -1;
};

} // namespace qr
