#pragma once

#include "decode/RawFrame.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

namespace qr {

// What to make a clip of: photos in the order they play (".jpg" and ".heic" decoded as the player
// decodes them, upright; ".rgb" raw frames converted and turned as the player turns them).
struct ClipRequest {
    QStringList photos; // paths
    int fps = 1;        // photos per second, 1 to 30
    int maxHeight = 1440;
    QString output; // the clip's path; an existing file there is replaced only by a finished clip
    // The raw frame size in force before the first raw frame (the player's last recognised size).
    FrameSize rawSize;
};

struct ClipResult {
    enum class Status { Done, Cancelled, UnreadablePhoto, Failed };
    Status status = Status::Failed;
    QString photo;   // the photo that could not be read
    QString message; // one line for the user when not done
    int frames = 0;
    QSize frameSize;

    bool ok() const { return status == Status::Done; }
};

// Makes an H.264 MP4 clip of a set, one frame per photo: the photos are decoded on a pool of its own,
// straight to the clip's frame size (reduced-scale JPEG decoding; raw frames converted whole, then
// scaled), and encoded in order as they come, with a bounded number decoded ahead. The frame size is
// the first photo's, fitted to the maximum height. Plain C++ over Qt Core and Gui: no widgets.
class ClipExporter {
public:
    // Called on the exporting thread after each encoded photo.
    using Progress = std::function<void(int done, int total)>;

    // `threads` decoding threads; 0 for one per core.
    explicit ClipExporter(int threads = 0);

    // Runs the export on the calling thread and returns when the clip is finished, has failed or was
    // cancelled (`cancel` becomes true; it is read between photos). Only a finished clip appears at
    // the output path.
    ClipResult run(const ClipRequest& request, const Progress& progress = {},
                   const std::atomic<bool>* cancel = nullptr) const;

    // The upright pixel size a photo plays at; empty when it cannot be read. Raw frames take `rawSize`.
    static QSize photoSize(const QString& path, FrameSize rawSize);

private:
    int threads_;
};

} // namespace qr
