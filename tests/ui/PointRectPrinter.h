#pragma once

#include "ui/PointRect.h"

#include <QByteArray>
#include <QTest>

namespace qr {

// Readable failure messages for rectangles in points.
inline char* toString(const PointRect& r)
{
    return QTest::toString(QByteArray("PointRect(") + QByteArray::number(r.x, 'g', 17) + ", " +
                           QByteArray::number(r.y, 'g', 17) + ", " + QByteArray::number(r.width, 'g', 17) +
                           ", " + QByteArray::number(r.height, 'g', 17) + ")");
}

} // namespace qr
