#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

struct AVPacket;

namespace qr {

class ReplacingFile;

// Writes photos as the frames of an H.264 MP4 clip (libavcodec with libx264, libavformat), one frame
// per photo at a fixed rate: the time base is 1/fps, so frame n starts at exactly n/fps seconds. Frames
// are yuv420p (BT.601, limited range) of one even size; the index is moved to the front of the file
// when it is finished, so that a player can start before it has read the whole file.
//
// The clip is written under a hidden temporary name in the target's folder and renamed over the
// target only by finish(); abort(), a failure or destruction before finish() removes it. Not
// thread-safe: one thread drives an encoder.
//
// A live clip (openLive) takes frames with their own times instead, for a stream whose frames come
// when they come. It is a fragmented MP4 (the index at the front, then one fragment per second),
// so that what was written up to the last whole fragment is a playable clip by itself: when a
// write fails (a full disk), that part is kept and renamed over the target instead of removed.
class ClipEncoder {
public:
    ClipEncoder();
    ~ClipEncoder();
    ClipEncoder(const ClipEncoder&) = delete;
    ClipEncoder& operator=(const ClipEncoder&) = delete;

    // The frame size of a clip of photos of `photo` size: fitted to `maxHeight` with its aspect
    // ratio, never enlarged, each side rounded down to an even number (at least 2). Empty when
    // `photo` is empty.
    static QSize frameSizeFor(QSize photo, int maxHeight);

    // Starts a clip of `frameSize` (even, positive) at `fps` frames per second (1 to 30) for
    // `targetPath`. False, with errorString() set and nothing left behind, when it cannot.
    bool open(const QString& targetPath, QSize frameSize, int fps);
    // Starts a live clip of `frameSize` (even, positive) for `targetPath`, with frame times in
    // microseconds (time base 1/90000) and a key frame about every second at `nominalFps` (1 to 60).
    // Its frames are tagged Display P3 when `displayP3`, else sRGB. False, with errorString() set and
    // nothing left behind, when it cannot.
    bool openLive(const QString& targetPath, QSize frameSize, int nominalFps, bool displayP3);
    // Encodes one photo (Format_RGB32 or ARGB32) as the next frame: an image of the frame size is
    // taken as it is; any other is scaled to fit (aspect kept) and centred on black.
    bool addFrame(const QImage& photo);
    // A live clip's next frame, shown from `timeUs` microseconds after the clip's start until the
    // next frame's time (the last one for one nominal period). Times that do not increase are moved
    // just after the previous frame's.
    bool addFrameAt(const QImage& photo, std::int64_t timeUs);
    // Flushes the encoder, writes the index and renames the clip over the target.
    bool finish();
    // Stops and removes everything written; the target is left as it was.
    void abort();

    QString errorString() const { return m_error; }
    int framesWritten() const { return m_frames; }
    // Frames in the finished clip: all of them after finish(); for a live clip that failed, those
    // of the part that was kept (0 when nothing was).
    int framesInClip() const { return m_framesInClip; }
    bool isOpen() const { return m_av != nullptr; }
    QSize frameSize() const { return m_size; }

private:
    struct Av;
    bool fail(const QString& message);
    bool setUp(const QString& targetPath, QSize frameSize, int fps, bool live, bool displayP3);
    bool convert(const QImage& photo);
    bool encode(const QImage& photo, std::int64_t pts);
    bool drain(bool flushing);
    bool writeLivePacket(AVPacket* packet);
    bool endFragment();
    bool keepWrittenPart();

    std::unique_ptr<Av> m_av;
    QString m_target;
    // The clip's hidden temporary file, renamed over the target by finish().
    std::unique_ptr<ReplacingFile> m_file;
    QSize m_size;
    int m_frames = 0;
    QString m_error;
    bool m_live = false;
    int m_nominalFps = 0;
    std::int64_t m_lastPts = -1;
    // Live clips: the one packet held back until the next gives its duration; the file's length and
    // the frame count at the end of the last fragment that reached the file whole.
    AVPacket* m_held = nullptr;
    std::int64_t m_fragmentFrames = 0;
    std::int64_t m_keptBytes = 0;
    int m_keptFrames = 0;
    int m_framesInClip = 0;
    std::vector<std::uint8_t> m_scaled;
};

} // namespace qr
