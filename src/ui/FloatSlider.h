#pragma once

#include <QSlider>

namespace qr {

// A continuous horizontal slider over a floating-point range. The value set is the value read back,
// kept exactly; a value outside the range is clamped to it.
class FloatSlider : public QSlider {
    Q_OBJECT
public:
    explicit FloatSlider(QWidget* parent = nullptr);

    void setRange(double minimum, double maximum);
    void setMaximum(double maximum);
    double minimum() const { return m_min; }
    double maximum() const { return m_max; }

    // Stores `value` clamped to the range, without notifying.
    void setValue(double value);
    double value() const { return m_value; }

Q_SIGNALS:
    // The user moved the knob (continuously while dragging, and by keys or clicks on the track).
    void moved(double value);

private:
    static constexpr int kSteps = 10000;
    void syncPosition();
    void userChanged(int position);

    double m_min = 0, m_max = 1, m_value = 0;
    bool m_syncing = false;
};

} // namespace qr
