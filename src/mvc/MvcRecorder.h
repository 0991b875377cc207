#pragma once

#include <QDateTime>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace qr {

class StreamClipWriter;

// Records the capture master's live streams: while recording, the frames shown at each display
// position go to a clip of that position's own, "MVC <date time> position N.mp4" in the clips
// folder, each frame lasting until the next one arrived. A phone that starts sending during a
// recording starts its position's clip; one whose connection ends finishes it. Widget-free; lives on
// the main thread. Each clip is written by a StreamClipWriter on a thread of its own, so recording
// never holds up reception or the display.
class MvcRecorder : public QObject {
    Q_OBJECT
public:
    static constexpr int kPositions = 3;

    struct Options {
        QString folder;      // where the clips go (created when missing)
        int nominalFps = 30; // the phones' rate: a key frame every this many frames
        int queueFrames = 6; // frames waiting per clip before the next is dropped from it
        std::function<QDateTime()> wallClock = [] {
            return QDateTime::currentDateTime();
        };
    };

    struct Summary {
        QStringList clips; // clips made, in the order they were finished
        int framesInClips = 0;
        int dropped = 0; // frames shown but left out of the clips
        QString error;   // why the recording stopped by itself; empty when it was stopped
    };

    explicit MvcRecorder(Options options, QObject* parent = nullptr);
    // Finishes every clip at once: frames still queued are dropped, the clips stay playable.
    ~MvcRecorder() override;

    // `nowNs` is the master's clock, the clock of the frames' arrival times.
    void start(std::int64_t nowNs);
    // Finishes every clip (frames already queued are still written); finished() follows once the
    // last one is closed.
    void stop();
    bool isRecording() const { return m_recording; }
    // Time since start() on the master's clock.
    std::int64_t elapsedNs(std::int64_t nowNs) const { return m_recording ? nowNs - m_startNs : 0; }
    // Clips of this recording or an earlier one still being finished.
    bool isFinishing() const { return !m_closing.empty(); }
    // Waits until every clip that was closed is finished (tests, the program's end).
    void waitForClips();

    // A frame of slot `slot` (0 to 2) shown at position `view`, whose last byte arrived at
    // `arrivalNs`. Positions outside 0 to 2 show nothing and record nothing.
    void frameShown(int slot, int view, const QImage& image, std::int64_t arrivalNs);
    // Slot `slot`'s connection ended: the clips it fed are finished.
    void streamEnded(int slot);

    // The name of position `view`'s clip begun at `when`: "MVC 2026-12-11 14.05.09 position 1.mp4".
    static QString clipName(const QDateTime& when, int view);

Q_SIGNALS:
    // The recording stopped by itself: a clip could not be written (a full disk). Emitted once, after
    // which the recording is over and finished() follows.
    void failed(const QString& error);
    // Every clip of the recording that ended is finished.
    void finished(const qr::MvcRecorder::Summary& summary);

private:
    struct Position {
        std::unique_ptr<StreamClipWriter> writer;
        int slot = -1;            // the slot whose frames it shows last
        std::int64_t firstNs = 0; // the clip's first frame's arrival
    };

    void closePosition(Position& p, bool dropQueued);
    void clipFinished(StreamClipWriter* writer, const QString& path, int frames);
    void writeFailed(const QString& error);
    QString uniquePath(int view);
    void maybeFinished();

    Options m_options;
    bool m_recording = false;
    std::int64_t m_startNs = 0;
    std::array<Position, kPositions> m_positions;
    // Closed writers, until their thread has finished the clip.
    std::vector<std::unique_ptr<StreamClipWriter>> m_closing;
    QSet<QString> m_namesTaken;
    Summary m_summary;
    bool m_summaryPending = false;
};

} // namespace qr

Q_DECLARE_METATYPE(qr::MvcRecorder::Summary)
