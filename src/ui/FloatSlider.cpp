#include "ui/FloatSlider.h"

#include <algorithm>
#include <cmath>

namespace qr {

FloatSlider::FloatSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent)
{
    QSlider::setRange(0, kSteps);
    setSingleStep(kSteps / 100);
    setPageStep(kSteps / 10);
    setTracking(true);
    setFocusPolicy(Qt::TabFocus);
    connect(this, &QSlider::valueChanged, this, &FloatSlider::userChanged);
}

void FloatSlider::setRange(double minimum, double maximum)
{
    if (!std::isfinite(minimum) || !std::isfinite(maximum) || maximum < minimum)
        return;
    m_min = minimum;
    m_max = maximum;
    m_value = std::clamp(m_value, m_min, m_max);
    syncPosition();
}

void FloatSlider::setMaximum(double maximum)
{
    setRange(m_min, maximum);
}

void FloatSlider::setValue(double value)
{
    if (std::isnan(value))
        value = m_min;
    m_value = std::clamp(value, m_min, m_max);
    syncPosition();
}

void FloatSlider::syncPosition()
{
    const double span = m_max - m_min;
    const int pos = span > 0 ? static_cast<int>(std::lround((m_value - m_min) / span * kSteps)) : 0;
    m_syncing = true;
    QSlider::setValue(pos);
    m_syncing = false;
}

void FloatSlider::userChanged(int position)
{
    if (m_syncing)
        return;
    m_value = m_min + (m_max - m_min) * static_cast<double>(position) / kSteps;
    Q_EMIT moved(m_value);
}

} // namespace qr
