#pragma once

#include <QImage>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace qr {

// One live stream written to a clip on a thread of its own. The caller hands over frames as they are
// shown (images are shared, not copied) with their times; a bounded queue stands between the caller
// and the encoder, and a frame that finds it full is dropped from the clip and counted, so the caller
// never waits for the encoder. The clip is a live ClipEncoder clip: written under a hidden temporary
// name and renamed to its own name only when finished, or, after a failed write, with the whole
// fragments written until then.
class StreamClipWriter {
public:
    struct Result {
        QString path;         // the clip's name
        int framesInClip = 0; // 0: no clip was made
        int dropped = 0;      // frames that found the queue full or came after a failure
        QString error;        // why the clip ended early; empty when it was finished as asked
    };
    // Called once on the writer's thread when a write failed: the clip then ends with what it has.
    using FailureHandler = std::function<void(const QString& error)>;
    // Called once on the writer's thread when the clip is finished, failed or not.
    using FinishedHandler = std::function<void(const Result& result)>;

    StreamClipWriter(const QString& targetPath, int nominalFps, int queueFrames);
    // Ends the clip as close(true) does and waits for the thread.
    ~StreamClipWriter();
    StreamClipWriter(const StreamClipWriter&) = delete;
    StreamClipWriter& operator=(const StreamClipWriter&) = delete;

    void setFailureHandler(FailureHandler handler) { m_onFailure = std::move(handler); }
    void setFinishedHandler(FinishedHandler handler) { m_onFinished = std::move(handler); }
    // Starts the thread; the handlers are set before.
    void start();

    // Queues a frame shown `timeUs` microseconds after the clip's first one. False when it was dropped.
    bool push(const QImage& frame, std::int64_t timeUs);
    // Ends the clip without waiting: the frames still queued are encoded, or dropped when
    // `dropQueued` (the program is ending); then the clip is finished. Later frames are refused
    // without being counted.
    void close(bool dropQueued);
    // Waits until the clip is finished and the thread has ended.
    void wait();

    const QString& path() const { return m_path; }
    int dropped() const;
    int queued() const;

private:
    struct Frame {
        QImage image;
        std::int64_t timeUs = 0;
    };
    void run();

    const QString m_path;
    const int m_nominalFps;
    const std::size_t m_capacity;
    FailureHandler m_onFailure;
    FinishedHandler m_onFinished;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Frame> m_queue;
    int m_dropped = 0;
    bool m_closing = false;
    bool m_failed = false;
};

} // namespace qr
