#include "ui/PointRect.h"

#include <cmath>

namespace qr {

QRect qtRect(const PointRect& r, double parentHeight)
{
    const double top = parentHeight - r.y - r.height;
    const auto edge = [](double v) {
        return static_cast<int>(std::lround(v));
    };
    const int left = edge(r.x);
    const int t = edge(top);
    return QRect(left, t, edge(r.x + r.width) - left, edge(top + r.height) - t);
}

} // namespace qr
