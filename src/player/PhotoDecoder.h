#pragma once

#include <QImage>
#include <QSize>
#include <QString>

#include <cstdint>

namespace qr {

class RegularFile;

// Decoding of JPEG (Qt's reader) and HEIC (libheif) photos into QImage::Format_RGB32, upright, and
// scaling to display size. Pure functions of their arguments: any thread.
//
// A photo is opened once as a RegularFile and read whole into memory before it is decoded, so a
// FIFO in its place never blocks and a file that shrinks or is rewritten meanwhile is a photo that
// does not decode, never a fault. Every decode has a memory budget, checked from the header before
// anything is allocated: a photo over it does not decode, and says so in the player's log.
class PhotoDecoder {
public:
    // The most a photo file may hold to be read at all.
    static constexpr std::int64_t kMaxFileBytes = std::int64_t{256} << 20;
    // The most pixels a photo may declare, whatever the scale it is decoded at.
    static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;
    // The most memory one decode may need: the decoder's own (a progressive JPEG's coefficients,
    // a HEIC's planes) and the images made from it.
    static constexpr std::int64_t kMemoryBudget = std::int64_t{512} << 20;
    // A main-display copy of at least this share of its view's size serves for it: painted at most
    // 1.04 times its pixels, a difference no eye sees. Spares a JPEG decode at the next larger scale
    // (and scaling that down) when a view is only just larger than one of the decoder's scales.
    static constexpr double kCoverSlack = 0.96;

    // Whether `path` names a HEIC photo (by its extension, as the file listing sorts files).
    static bool isHeic(const QString& path);
    // The upright pixel size of the photo at `path`, read from its header; empty when unreadable.
    static QSize naturalSize(const QString& path);
    // The photo decoded whole, or fitted into `box` (aspect kept, never enlarged) when `box` is
    // valid. JPEG uses the decoder's reduced-scale paths; null when the file does not decode.
    // `natural`, when given, receives the upright natural size read on the way (empty on failure).
    static QImage decode(const QString& path, QSize box = {}, QSize* natural = nullptr);
    // The same for a file already open (its type from its path's extension); null too when the file
    // changed since it was opened.
    static QImage decodeFile(RegularFile& file, QSize box = {}, QSize* natural = nullptr);
    // A main-display copy: decode(), except that a JPEG decoder scale whose output is within
    // kCoverSlack of the fitted size is used as it comes (a little smaller than the fitted size).
    static QImage decodeDisplayCopy(const QString& path, QSize box, QSize* natural = nullptr);
    // A small copy for a side preview, fitted into `box`: for HEIC the smallest embedded thumbnail
    // that covers the fitted size (of the photo's shape), the whole photo otherwise.
    static QImage decodePreview(const QString& path, QSize box);
    // Threads libheif may use for the tiles of one grid image (0: the calling thread only); the
    // core count unless set. Applies to decodes started afterwards.
    static void setHeicDecodingThreads(int threads);
    static int heicDecodingThreads();
    // The HEVC decoder of HEIC photos: libavcodec's (HevcTileDecoder) where it has one, else
    // libde265 through libheif. Applies to decodes started afterwards; for tests and benchmarks.
    enum class HevcDecoder { Libavcodec, Libde265 };
    static void setHevcDecoder(HevcDecoder decoder);
    // The two JPEG paths, for the benchmarks that chose between them: libjpeg-turbo called directly
    // (its scaled IDCT at the smallest n/8 whose output still covers the box, straight
    // into the image's BGRX rows, EXIF orientation applied), and Qt's image reader. decode() uses the
    // first and falls back to the second for what it does not handle (CMYK).
    static QImage decodeJpegDirect(const QString& path, QSize box = {});
    static QImage decodeJpegWithQt(const QString& path, QSize box = {});
    // `size` scaled to fit `box` with its aspect ratio, never enlarged.
    static QSize fittedSize(QSize size, QSize box);
    // The box to fit a photo of `size` into so that it covers `box` in both directions (to be
    // cropped to fill it), never larger than `size`; `box` itself when either is empty.
    static QSize coveringBox(QSize size, QSize box);
    // `image` (Format_RGB32 or ARGB32) fitted into `box` with a box filter; `image` itself when it
    // already fits or `box` is not valid.
    static QImage scaledToFit(const QImage& image, QSize box);

private:
    static QImage decodeFile(RegularFile& file, QSize box, QSize* natural, double coverSlack);
};

} // namespace qr
