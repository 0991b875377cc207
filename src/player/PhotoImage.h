#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

namespace qr {

// One photo of a frame slot or a side preview: an implicitly shared, immutable value that is built
// whole (on a worker or the main thread) before anyone can see it.
//
// A raw frame carries its full bitmap. A JPEG or HEIC photo refers to its file and decodes the full
// image only when fullImage() is first asked for (on the main thread; the result is kept). Either may
// carry a display copy, prepared off the main thread at the size the display paints, which is what a
// tick hands over.
class PhotoImage {
public:
    enum class Kind { None, Bitmap, Jpeg, Heic };

    PhotoImage() = default;
    // A bitmap photo (a converted raw frame); null when `full` is null.
    static PhotoImage fromImage(QImage full, QImage display = {});
    // A raw frame known by its display copy alone, of a frame of `size`, until its full bitmap is
    // converted (a bitmap photo whose fullImage() is null); null when `display` is null.
    static PhotoImage fromFrameCopy(QImage display, QSize size);
    // A photo that decodes from `path` (JPEG for ".jpg", HEIC for ".heic", by extension); `size` is its
    // natural size when already known, otherwise read from the file's header when first asked for.
    static PhotoImage fromFile(const QString& path, QImage display = {}, QSize size = {});

    bool isNull() const { return !d_; }
    // True when another copy of this photo exists (for example in a frame slot). Main thread only.
    bool isShared() const { return d_.use_count() > 1; }
    Kind kind() const;
    // The photo's file; empty for a bitmap photo.
    QString filePath() const;
    // Natural pixel size (of the upright image); empty when the file cannot be read.
    QSize size() const;
    int width() const { return size().width(); }
    int height() const { return size().height(); }
    // The copy prepared for the display; null when none was prepared (yet).
    QImage displayImage() const;
    // The full image; for a file photo decoded now and kept. Null when the file does not decode, and
    // for a raw frame known by its display copy alone.
    QImage fullImage() const;
    // The image to paint when nothing better is at hand: the display copy if any, else the full image.
    QImage bestImage() const;
    // A copy larger than the display copy, prepared off the main thread for a zoomed display; null
    // until one was made. Main thread only: the copy is attached to every holder of this photo.
    QImage largerImage() const;
    void setLargerImage(QImage image) const;

private:
    struct Data;
    std::shared_ptr<Data> d_;
};

} // namespace qr
