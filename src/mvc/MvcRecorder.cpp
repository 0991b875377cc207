#include "mvc/MvcRecorder.h"

#include "mvc/StreamClipWriter.h"
#include "platform/LogCategories.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace qr {

MvcRecorder::MvcRecorder(Options options, QObject* parent) : QObject(parent), m_options(std::move(options))
{
    qRegisterMetaType<qr::MvcRecorder::Summary>();
}

MvcRecorder::~MvcRecorder()
{
    // The program is ending: every clip ends with the frame being encoded now.
    for (Position& p : m_positions)
        closePosition(p, true);
    for (const auto& w : m_closing)
        w->close(true);
    m_closing.clear(); // each waits for its thread
}

QString MvcRecorder::clipName(const QDateTime& when, int view)
{
    // No colons: the name stays valid on every file system a clip may be copied to.
    return QStringLiteral("MVC %1 position %2.mp4")
        .arg(when.toString(QStringLiteral("yyyy-MM-dd HH.mm.ss")))
        .arg(view + 1);
}

QString MvcRecorder::uniquePath(int view)
{
    const QString name = clipName(m_options.wallClock(), view);
    const QDir dir(m_options.folder);
    QString path = dir.absoluteFilePath(name);
    // A clip never replaces a file: a name in use (a clip of the same second) gets a number.
    for (int n = 2; QFileInfo::exists(path) || m_namesTaken.contains(path); ++n)
        path = dir.absoluteFilePath(QStringLiteral("%1 (%2).mp4").arg(name.chopped(4)).arg(n));
    m_namesTaken.insert(path);
    return path;
}

void MvcRecorder::start(std::int64_t nowNs)
{
    if (m_recording)
        return;
    QDir().mkpath(m_options.folder);
    m_recording = true;
    m_startNs = nowNs;
    m_summary = Summary{};
    m_summaryPending = true;
    qCDebug(lcMvc).noquote() << "recording to" << m_options.folder;
}

void MvcRecorder::stop()
{
    if (!m_recording)
        return;
    m_recording = false;
    for (Position& p : m_positions)
        closePosition(p, false);
    maybeFinished();
}

void MvcRecorder::waitForClips()
{
    for (const auto& w : m_closing)
        w->wait();
}

void MvcRecorder::closePosition(Position& p, bool dropQueued)
{
    if (!p.writer)
        return;
    p.writer->close(dropQueued);
    m_closing.push_back(std::move(p.writer));
    p.slot = -1;
}

void MvcRecorder::frameShown(int slot, int view, const QImage& image, std::int64_t arrivalNs)
{
    if (!m_recording || view < 0 || view >= kPositions || image.isNull())
        return;
    Position& p = m_positions[std::size_t(view)];
    if (!p.writer) {
        p.writer =
            std::make_unique<StreamClipWriter>(uniquePath(view), m_options.nominalFps, m_options.queueFrames);
        StreamClipWriter* w = p.writer.get();
        p.writer->setFailureHandler([this](const QString& error) {
            QMetaObject::invokeMethod(
                this, [this, error] { writeFailed(error); }, Qt::QueuedConnection);
        });
        p.writer->setFinishedHandler([this, w](const StreamClipWriter::Result& r) {
            QMetaObject::invokeMethod(
                this, [this, w, path = r.path, frames = r.framesInClip] { clipFinished(w, path, frames); },
                Qt::QueuedConnection);
        });
        p.writer->start();
        p.firstNs = arrivalNs;
        qCDebug(lcMvc).noquote() << "position" << view + 1 << "recording to" << p.writer->path();
    }
    // The clip shows what the position shows, whichever phone sends it.
    p.slot = slot;
    p.writer->push(image, std::max<std::int64_t>(0, arrivalNs - p.firstNs) / 1000);
}

void MvcRecorder::streamEnded(int slot)
{
    for (Position& p : m_positions) {
        if (p.writer && p.slot == slot)
            closePosition(p, false);
    }
}

void MvcRecorder::writeFailed(const QString& error)
{
    if (!m_recording)
        return;
    m_summary.error = error;
    stop();
    Q_EMIT failed(error);
}

void MvcRecorder::clipFinished(StreamClipWriter* writer, const QString& path, int frames)
{
    const auto it = std::find_if(m_closing.begin(), m_closing.end(),
                                 [writer](const auto& w) { return w.get() == writer; });
    if (it == m_closing.end())
        return;
    (*it)->wait();
    if (frames > 0)
        m_summary.clips << path;
    m_summary.framesInClips += frames;
    m_summary.dropped += (*it)->dropped();
    m_namesTaken.remove(path);
    m_closing.erase(it);
    maybeFinished();
}

void MvcRecorder::maybeFinished()
{
    if (m_recording || !m_closing.empty() || !m_summaryPending)
        return;
    m_summaryPending = false;
    Q_EMIT finished(m_summary);
}

} // namespace qr
