#pragma once

#include "player/RenderTimer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace qr {

// The render timer over a precise single-shot QTimer and a QElapsedTimer origin.
class QtRenderTimer : public QObject, public RenderTimer {
    Q_OBJECT
public:
    explicit QtRenderTimer(QObject* parent = nullptr);

    std::int64_t nowNs() const override;
    void armAt(std::int64_t deadlineNs) override;
    void stop() override;
    bool isArmed() const override;
    void setCallback(std::function<void()> callback) override;

private:
    void fire();

    QElapsedTimer origin_;
    QTimer timer_;
    std::int64_t deadlineNs_ = 0;
    bool armed_ = false;
    std::function<void()> callback_;
};

} // namespace qr
