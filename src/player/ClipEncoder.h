#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>
#include <memory>
#include <vector>

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
    // Encodes one photo (Format_RGB32 or ARGB32) as the next frame: an image of the frame size is
    // taken as it is; any other is scaled to fit (aspect kept) and centred on black.
    bool addFrame(const QImage& photo);
    // Flushes the encoder, writes the index and renames the clip over the target.
    bool finish();
    // Stops and removes everything written; the target is left as it was.
    void abort();

    QString errorString() const { return error_; }
    int framesWritten() const { return frames_; }
    QSize frameSize() const { return size_; }

private:
    struct Av;
    bool fail(const QString& message);
    bool convert(const QImage& photo);
    bool drain(bool flushing);

    std::unique_ptr<Av> av_;
    QString target_;
    // The clip's hidden temporary file, renamed over the target by finish().
    std::unique_ptr<ReplacingFile> file_;
    QSize size_;
    int frames_ = 0;
    QString error_;
    std::vector<std::uint8_t> scaled_;
};

} // namespace qr
