#pragma once

#include <QImage>
#include <QSize>

namespace qr {

// Frames of a moving scene, so that playback is visibly playback: a ball bouncing across a
// gradient, with the set and frame number printed on it.
class DemoScene {
public:
    DemoScene(QSize size, int setNumber, QColor ball);
    QImage frame(int index, int count) const;

private:
    QSize m_size;
    int m_set;
    QColor m_ball;
};

} // namespace qr
