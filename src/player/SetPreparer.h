#pragma once

#include "decode/RawFrame.h"
#include "player/PhotoImage.h"

#include <QSize>
#include <QString>
#include <QStringList>

#include <vector>

namespace qr {

// The work of preparing one photo of a set, as pure functions of their arguments: each runs on a
// pool thread and returns a photo built whole, which the engine then hands to the main thread.
class SetPreparer {
public:
    // The frame size in force for each raw frame of `paths`, read from the files' byte counts in list
    // order: a recognised count sets the size, any other keeps the one before (`previous` at first).
    static std::vector<FrameSize> recogniseSizes(const QStringList& paths, FrameSize previous);

    // A raw frame read from `path`, converted to BGRA with `size`, turned to portrait unless it is
    // the one landscape size, and wrapped; plus a display copy fitted into `box`. Null when the file
    // cannot be read or is shorter than the frame. Buffers come from FrameBufferPool::shared().
    static PhotoImage prepareRawFrame(const QString& path, FrameSize size, QSize box);

    // A raw frame's display copy alone, fitted into `box`: the full frame is converted into a reused
    // buffer and given back, so that a set's first play does not wait for fresh memory per frame.
    static PhotoImage prepareRawDisplay(const QString& path, FrameSize size, QSize box);

    // A raw frame for a side preview: only a copy that covers `box` (to be cropped to fill it) is kept. The
    // size comes from the file's byte count, or `fallback` when it is not recognised.
    static PhotoImage prepareRawPreview(const QString& path, FrameSize fallback, QSize box);

    // A JPEG or HEIC photo with a display copy decoded straight to fit `box` and its natural size;
    // without a valid box only the size is read. Null display copy when the file does not decode.
    static PhotoImage preparePhoto(const QString& path, QSize box);
    // A JPEG or HEIC photo for a side preview: a display copy that covers `box` (to be cropped to fill
    // it), from the embedded thumbnail when that is large enough (PhotoDecoder::decodePreview).
    static PhotoImage preparePreview(const QString& path, QSize box);
};

} // namespace qr
