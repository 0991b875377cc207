#pragma once

#include <QRect>

namespace qr {

// A rectangle in points, origin at the bottom left of its parent, y growing upwards.
struct PointRect {
    double x = 0, y = 0, width = 0, height = 0;

    friend bool operator==(const PointRect&, const PointRect&) = default;
};

// The one conversion from the layout's bottom-left points to Qt's top-left logical pixels of a
// parent that is parentHeight high. Edges are rounded, not sizes, so panels that share an edge in
// points also share it on screen.
QRect qtRect(const PointRect& r, double parentHeight);

} // namespace qr
