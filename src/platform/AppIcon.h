#pragma once

#include <QImage>

namespace qr {

// The application's icon, drawn by the program itself: a burst of photo frames over a lens.
class AppIcon {
public:
    static QImage render(int size);
};

} // namespace qr
