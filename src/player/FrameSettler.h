#pragma once

#include "player/Playlist.h"

#include <QList>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace qr {

// Settles the frames a playlist pass decompressed (Playlist::settleDecompressed: each `.rgb` flushed
// to disk, then its `.rgb2` removed) on a thread of its own, so that the playlist is handed over as
// soon as every `.rgb` is written. One settling at a time. A pass waits (waitUntilIdle) for the one
// before it to end before it writes frames: otherwise a `.rgb2` could be removed just after its
// `.rgb` was replaced by one not yet on disk. Thread-safe.
class FrameSettler {
public:
    FrameSettler() = default;
    // Waits for the settling under way; set its stop flag first to keep that to one frame.
    ~FrameSettler();
    FrameSettler(const FrameSettler&) = delete;
    FrameSettler& operator=(const FrameSettler&) = delete;

    // Settles `frames` (relative to `root`) until `stop` is set; the frames not reached then keep
    // both files. Waits for an earlier settling to end first.
    void start(const QString& root, const QList<DecompressedFrame>& frames,
               std::shared_ptr<const std::atomic<bool>> stop);
    // Blocks until no settling is under way.
    void waitUntilIdle();
    // While held, a settling waits before its first frame; for tests that need one under way at a
    // given moment. The destructor releases it.
    void hold(bool held);

private:
    void run(const QString& root, const QList<DecompressedFrame>& frames,
             const std::shared_ptr<const std::atomic<bool>>& stop);

    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_busy = false;
    bool m_held = false;
    std::thread m_thread;
};

} // namespace qr
