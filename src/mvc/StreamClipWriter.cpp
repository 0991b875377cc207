#include "mvc/StreamClipWriter.h"

#include "platform/LogCategories.h"
#include "platform/ThreadPriority.h"
#include "player/ClipEncoder.h"

#include <QColorSpace>

#include <algorithm>

namespace qr {

StreamClipWriter::StreamClipWriter(const QString& targetPath, int nominalFps, int queueFrames)
    : m_path(targetPath), m_nominalFps(nominalFps), m_capacity(std::size_t(std::max(1, queueFrames)))
{}

StreamClipWriter::~StreamClipWriter()
{
    close(true);
    wait();
}

void StreamClipWriter::start()
{
    if (!m_thread.joinable())
        m_thread = std::thread([this] { run(); });
}

bool StreamClipWriter::push(const QImage& frame, std::int64_t timeUs)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_closing)
            return false;
        if (m_failed || m_queue.size() >= m_capacity) {
            ++m_dropped;
            return false;
        }
        m_queue.push_back(Frame{frame, timeUs});
    }
    m_wake.notify_one();
    return true;
}

void StreamClipWriter::close(bool dropQueued)
{
    {
        std::lock_guard lock(m_mutex);
        if (dropQueued) {
            m_dropped += static_cast<int>(m_queue.size());
            m_queue.clear();
        }
        m_closing = true;
    }
    m_wake.notify_one();
}

void StreamClipWriter::wait()
{
    if (m_thread.joinable())
        m_thread.join();
}

int StreamClipWriter::dropped() const
{
    std::lock_guard lock(m_mutex);
    return m_dropped;
}

int StreamClipWriter::queued() const
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_queue.size());
}

void StreamClipWriter::run()
{
    // Encoding gives way to the main thread and the frame decoding when the cores are busy: frames
    // then wait in the queue, and are dropped from the clip when it is full, never from the display.
    ThreadPriority::lowerForBackgroundWork();
    ClipEncoder encoder;
    QString error;
    for (;;) {
        Frame frame;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_closing || !m_queue.empty(); });
            if (m_queue.empty())
                break; // closing, and nothing left to encode
            frame = std::move(m_queue.front());
            m_queue.pop_front();
        }
        bool ok = true;
        if (!encoder.isOpen() && encoder.framesWritten() == 0) {
            // The clip takes the size of its first frame (even sides); later frames of another size
            // (a phone turned) are fitted into it.
            const QSize size(std::max(2, frame.image.width() & ~1), std::max(2, frame.image.height() & ~1));
            const bool p3 = frame.image.colorSpace() == QColorSpace(QColorSpace::DisplayP3);
            ok = encoder.openLive(m_path, size, m_nominalFps, p3);
        }
        if (ok)
            ok = encoder.addFrameAt(frame.image, frame.timeUs);
        frame.image = QImage(); // the frame's buffer goes back as soon as it is encoded
        if (!ok) {
            error = encoder.errorString();
            qCWarning(lcMvc).noquote() << "recording" << m_path << "stopped:" << error;
            {
                std::lock_guard lock(m_mutex);
                m_failed = true;
                m_dropped += static_cast<int>(m_queue.size());
                m_queue.clear();
            }
            if (m_onFailure)
                m_onFailure(error);
            break;
        }
    }
    if (error.isEmpty() && encoder.isOpen() && !encoder.finish()) {
        error = encoder.errorString();
        qCWarning(lcMvc).noquote() << "recording" << m_path << "could not be finished:" << error;
        {
            std::lock_guard lock(m_mutex);
            m_failed = true;
        }
        if (m_onFailure)
            m_onFailure(error);
    }
    Result result;
    result.path = m_path;
    result.framesInClip = encoder.framesInClip();
    result.error = error;
    {
        std::lock_guard lock(m_mutex);
        result.dropped = m_dropped;
    }
    if (m_onFinished)
        m_onFinished(result);
}

} // namespace qr
