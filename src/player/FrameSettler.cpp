#include "player/FrameSettler.h"

namespace qr {

FrameSettler::~FrameSettler()
{
    hold(false);
    waitUntilIdle();
    if (m_thread.joinable())
        m_thread.join();
}

void FrameSettler::start(const QString& root, const QList<DecompressedFrame>& frames,
                         std::shared_ptr<const std::atomic<bool>> stop)
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy; });
    // The thread of an earlier settling has done its work and is ending.
    if (m_thread.joinable())
        m_thread.join();
    m_busy = true;
    m_thread = std::thread([this, root, frames, stop = std::move(stop)] { run(root, frames, stop); });
}

void FrameSettler::run(const QString& root, const QList<DecompressedFrame>& frames,
                       const std::shared_ptr<const std::atomic<bool>>& stop)
{
    const auto stopped = [&stop] {
        return stop && stop->load(std::memory_order_relaxed);
    };
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return !m_held; });
    }
    Playlist::settleDecompressed(root, frames, [&stopped] { return !stopped(); });
    const std::lock_guard lock(m_mutex);
    m_busy = false;
    m_changed.notify_all();
}

void FrameSettler::waitUntilIdle()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return !m_busy; });
}

void FrameSettler::hold(bool held)
{
    const std::lock_guard lock(m_mutex);
    m_held = held;
    m_changed.notify_all();
}

} // namespace qr
