#include "player/QtRenderTimer.h"

#include <algorithm>

namespace qr {

QtRenderTimer::QtRenderTimer(QObject* parent) : QObject(parent)
{
    origin_.start();
    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    connect(&timer_, &QTimer::timeout, this, &QtRenderTimer::fire);
}

std::int64_t QtRenderTimer::nowNs() const
{
    return origin_.nsecsElapsed();
}

void QtRenderTimer::armAt(std::int64_t deadlineNs)
{
    deadlineNs_ = deadlineNs;
    armed_ = true;
    const std::int64_t waitNs = std::max<std::int64_t>(0, deadlineNs - nowNs());
    // Whole milliseconds, rounded down; fire() waits out a remainder that is left.
    timer_.start(static_cast<int>(std::min<std::int64_t>(waitNs / 1'000'000, 24 * 3600 * 1000)));
}

void QtRenderTimer::stop()
{
    armed_ = false;
    timer_.stop();
}

bool QtRenderTimer::isArmed() const
{
    return armed_;
}

void QtRenderTimer::setCallback(std::function<void()> callback)
{
    callback_ = std::move(callback);
}

void QtRenderTimer::fire()
{
    if (!armed_)
        return;
    const std::int64_t leftNs = deadlineNs_ - nowNs();
    if (leftNs >= 1'000'000) {
        timer_.start(static_cast<int>(leftNs / 1'000'000));
        return;
    }
    armed_ = false;
    if (callback_)
        callback_();
}

} // namespace qr
