#include "player/PhotoDecoder.h"

#include "decode/FrameBufferPool.h"
#include "decode/HeifBoxCheck.h"
#include "player/HeifPointers.h"

#include "platform/FileListing.h"
#include "platform/LogCategories.h"
#include "platform/RegularFile.h"
#include "player/HevcTileDecoder.h"
#include "player/Playlist.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QThread>
#include <QTransform>

#include <libheif/heif.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>

#include <jpeglib.h>

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <span>
#include <utility>

namespace qr {

namespace {

// The largest side libheif is allowed to parse, for the photo and for each of its tiles.
constexpr int kMaxHeicSide = 1 << 14;

double megabytes(std::int64_t bytes)
{
    return double(bytes) / double(1 << 20);
}

// Whether a decode that needs `bytes` of memory for `pixels` declared pixels may go ahead; logs the
// photo it refuses.
bool withinBudget(const QString& path, std::int64_t pixels, std::int64_t bytes)
{
    if (pixels > 0 && pixels <= PhotoDecoder::kMaxPixels && bytes <= PhotoDecoder::kMemoryBudget)
        return true;
    qCDebug(lcPlayer).noquote() << path << "skipped: it declares" << pixels << "pixels and needs"
                                << megabytes(bytes) << "MB to decode, over the budget of"
                                << megabytes(PhotoDecoder::kMemoryBudget) << "MB";
    return false;
}

// A photo file's bytes, read whole through the open file into the calling thread's buffer, which is
// kept for the next photo (a fresh one costs its page faults every time) unless it grew large.
// Nothing when the file is too large to be a photo, or shrank, grew or was rewritten meanwhile.
class PhotoBytes {
public:
    explicit PhotoBytes(RegularFile& file)
    {
        const std::int64_t size = file.size();
        if (!file.isOpen() || size <= 0)
            return;
        if (size > PhotoDecoder::kMaxFileBytes) {
            qCDebug(lcPlayer).noquote()
                << file.path() << "skipped:" << megabytes(size) << "MB is more than a photo file may hold";
            return;
        }
        Buffer& mine = buffer();
        std::uint8_t* data = nullptr;
        if (!mine.inUse) {
            if (mine.capacity < std::size_t(size)) {
                mine.data.reset();
                mine.data.reset(new (std::nothrow) std::uint8_t[std::size_t(size)]);
                mine.capacity = mine.data ? std::size_t(size) : 0;
            }
            data = mine.data.get();
            held_ = data != nullptr;
            mine.inUse = held_;
        }
        if (!data) {
            own_.reset(new (std::nothrow) std::uint8_t[std::size_t(size)]);
            data = own_.get();
        }
        if (!data)
            return;
        const std::span<std::uint8_t> bytes(data, std::size_t(size));
        if (!file.readAt(0, bytes) || !file.unchanged()) {
            qCDebug(lcPlayer).noquote() << file.path() << "skipped:" << file.errorString();
            return;
        }
        bytes_ = bytes;
    }
    ~PhotoBytes()
    {
        if (!held_)
            return;
        Buffer& mine = buffer();
        mine.inUse = false;
        if (mine.capacity > kKeptBytes) {
            mine.data.reset();
            mine.capacity = 0;
        }
    }
    PhotoBytes(const PhotoBytes&) = delete;
    PhotoBytes& operator=(const PhotoBytes&) = delete;

    bool ok() const { return !bytes_.empty(); }
    std::span<const std::uint8_t> bytes() const { return bytes_; }

private:
    static constexpr std::size_t kKeptBytes = std::size_t{48} << 20;
    struct Buffer {
        std::unique_ptr<std::uint8_t[]> data;
        std::size_t capacity = 0;
        bool inUse = false;
    };
    static Buffer& buffer()
    {
        thread_local Buffer perThread;
        return perThread;
    }

    std::unique_ptr<std::uint8_t[]> own_;
    std::span<const std::uint8_t> bytes_;
    bool held_ = false;
};

std::atomic<bool>& hevcByLibavcodec()
{
    static std::atomic<bool> byLibavcodec{true};
    return byLibavcodec;
}

std::atomic<int>& heicThreads()
{
    static std::atomic<int> threads{std::max(1, QThread::idealThreadCount())};
    return threads;
}

// The context reads `bytes` in place: they must outlive it.
bool openHeic(std::span<const std::uint8_t> bytes, const QString& path, HeifContext& ctx, HeifHandle& handle)
{
    if (!HeifBoxCheck::wellFormed(bytes)) {
        qCDebug(lcPlayer).noquote() << path << "skipped: its HEIF boxes do not fit each other";
        return false;
    }
    ctx.reset(heif_context_alloc());
    if (!ctx)
        return false;
    heif_context_set_max_decoding_threads(ctx.get(), heicThreads().load(std::memory_order_relaxed));
    if (const heif_decoder_plugin* hevc = HevcTileDecoder::plugin();
        hevc && hevcByLibavcodec().load(std::memory_order_relaxed)) {
        // For this context only, so that tests and benchmarks can compare the two decoders.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
        heif_register_decoder(ctx.get(), hevc);
#pragma GCC diagnostic pop
    }
    heif_context_set_maximum_image_size_limit(ctx.get(), kMaxHeicSide);
    const heif_error read =
        heif_context_read_from_memory_without_copy(ctx.get(), bytes.data(), bytes.size(), nullptr);
    if (read.code != heif_error_Ok) {
        if (read.subcode == heif_suberror_Security_limit_exceeded)
            qCDebug(lcPlayer).noquote() << path << "skipped:" << read.message;
        return false;
    }
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok)
        return false;
    handle.reset(raw);
    return true;
}

// What decoding `handle` needs at its peak: libheif's planes (4:4:4 at worst) with the interleaved
// RGB it converts them to, or that RGB with the RGB32 image made from it.
bool heicWithinBudget(heif_image_handle* handle, const QString& path)
{
    const std::int64_t pixels =
        std::int64_t{heif_image_handle_get_width(handle)} * heif_image_handle_get_height(handle);
    const int bits = heif_image_handle_get_luma_bits_per_pixel(handle);
    const std::int64_t sampleBytes = bits > 8 ? 2 : 1;
    return withinBudget(path, pixels, pixels * std::max<std::int64_t>(3 * sampleBytes + 3, 7));
}

// The image of `handle` decoded to RGB32 and fitted into `box`.
QImage decodeHeicHandle(heif_image_handle* handle, QSize box, const QString& path)
{
    if (!heicWithinBudget(handle, path))
        return {};
    heif_image* raw = nullptr;
    if (heif_decode_image(handle, &raw, heif_colorspace_RGB, heif_chroma_interleaved_RGB, nullptr).code !=
        heif_error_Ok)
        return {};
    HeifImage image(raw);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const std::uint8_t* rgb = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!rgb || width <= 0 || height <= 0 || stride < width * 3)
        return {};
    QImage out = FrameBufferPool::largeImage(width, height);
    if (out.isNull())
        return {};
    // libyuv's "RAW" is memory order R, G, B; its "ARGB" is memory order B, G, R, A.
    if (libyuv::RAWToARGB(rgb, stride, out.bits(), static_cast<int>(out.bytesPerLine()), width, height) != 0)
        return {};
    return PhotoDecoder::scaledToFit(out, box);
}

QImage decodeHeic(std::span<const std::uint8_t> bytes, const QString& path, QSize box, QSize* natural)
{
    HeifContext ctx;
    HeifHandle handle;
    if (!openHeic(bytes, path, ctx, handle))
        return {};
    if (natural)
        *natural =
            QSize(heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get()));
    return decodeHeicHandle(handle.get(), box, path);
}

// The smallest embedded thumbnail that still covers the photo fitted into `box`, decoded and fitted;
// else the whole photo.
QImage decodeHeicPreview(std::span<const std::uint8_t> bytes, const QString& path, QSize box)
{
    HeifContext ctx;
    HeifHandle handle;
    if (!openHeic(bytes, path, ctx, handle))
        return {};
    const QSize natural(heif_image_handle_get_width(handle.get()),
                        heif_image_handle_get_height(handle.get()));
    const QSize target = PhotoDecoder::fittedSize(natural, box);
    const int count = heif_image_handle_get_number_of_thumbnails(handle.get());
    if (count > 0 && count <= 16) {
        heif_item_id ids[16];
        heif_image_handle_get_list_of_thumbnail_IDs(handle.get(), ids, count);
        HeifHandle best;
        for (int i = 0; i < count; ++i) {
            heif_image_handle* raw = nullptr;
            if (heif_image_handle_get_thumbnail(handle.get(), ids[i], &raw).code != heif_error_Ok)
                continue;
            HeifHandle thumb(raw);
            const int w = heif_image_handle_get_width(thumb.get());
            const int h = heif_image_handle_get_height(thumb.get());
            if (w < target.width() || h < target.height())
                continue;
            if (!best || std::int64_t(w) * h < std::int64_t(heif_image_handle_get_width(best.get())) *
                                                   heif_image_handle_get_height(best.get()))
                best = std::move(thumb);
        }
        if (best) {
            QImage image = decodeHeicHandle(best.get(), box, path);
            // A thumbnail of another shape than the photo would show it distorted: not used.
            if (!image.isNull() && image.size() == target)
                return image;
        }
    }
    return decodeHeicHandle(handle.get(), box, path);
}

// ---- JPEG through libjpeg-turbo ----------------------------------------------------------------

// The EXIF orientation (1 to 8) of an APP1 marker's data; 1 when absent or unreadable.
int exifOrientation(const std::uint8_t* data, std::size_t size)
{
    if (size < 14 || std::memcmp(data, "Exif\0\0", 6) != 0)
        return 1;
    const std::uint8_t* tiff = data + 6;
    const std::size_t n = size - 6;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    const auto u16 = [&](std::size_t at) -> std::uint32_t {
        return little ? tiff[at] | (tiff[at + 1] << 8) : (tiff[at] << 8) | tiff[at + 1];
    };
    const auto u32 = [&](std::size_t at) -> std::uint32_t {
        return little ? u16(at) | (u16(at + 2) << 16) : (u16(at) << 16) | u16(at + 2);
    };
    const std::uint32_t ifd = u32(4);
    if (ifd > n || n - ifd < 2)
        return 1;
    const std::uint32_t count = u16(ifd);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::size_t entry = std::size_t(ifd) + 2 + std::size_t(i) * 12;
        if (entry + 12 > n)
            return 1;
        if (u16(entry) == 0x0112 && u16(entry + 2) == 3) {
            const std::uint32_t value = u16(entry + 8);
            return value >= 1 && value <= 8 ? int(value) : 1;
        }
    }
    return 1;
}

// Turns a decoded image upright for its EXIF orientation.
QImage upright(QImage image, int orientation)
{
    switch (orientation) {
    case 2:
        return image.mirrored(true, false);
    case 3:
        return image.transformed(QTransform().rotate(180));
    case 4:
        return image.mirrored(false, true);
    case 5:
        return image.mirrored(true, false).transformed(QTransform().rotate(270));
    case 6:
        return image.transformed(QTransform().rotate(90));
    case 7:
        return image.mirrored(true, false).transformed(QTransform().rotate(90));
    case 8:
        return image.transformed(QTransform().rotate(270));
    default:
        return image;
    }
}

struct JpegError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

[[noreturn]] void jpegErrorExit(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1);
}

void jpegSilence(j_common_ptr, int) {}

enum class JpegOutcome { Decoded, Failed, OverBudget };

// Decodes in one function without C++ objects whose destructors a longjmp would skip: `out` is
// allocated before the jump point and only filled after it. `needed` receives the memory the decode
// was found to need and `pixels` the pixels the header declares.
JpegOutcome decodeJpegTurbo(std::span<const std::uint8_t> data, QSize box, QImage& out, int& orientation,
                            QSize& stored, std::int64_t& pixels, std::int64_t& needed, double coverSlack)
{
    jpeg_decompress_struct cinfo;
    JpegError error;
    cinfo.err = jpeg_std_error(&error.mgr);
    error.mgr.error_exit = jpegErrorExit;
    error.mgr.emit_message = jpegSilence;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::Failed;
    }
    jpeg_create_decompress(&cinfo);
    // The library's own bound on its whole-image buffers (a progressive photo's coefficients), for
    // whatever the estimate below does not see: beyond it the decode fails instead of allocating.
    cinfo.mem->max_memory_to_use = static_cast<long>(PhotoDecoder::kMemoryBudget);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_save_markers(&cinfo, JPEG_APP0 + 1, 0xFFFF);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::Failed;
    }
    pixels = std::int64_t{cinfo.image_width} * cinfo.image_height;
    // A progressive or multi-scan photo keeps the coefficients of the whole image, whatever the scale
    // it is decoded at: 128 bytes per 8 x 8 block of every component.
    std::int64_t coefficients = 0;
    if (jpeg_has_multiple_scans(&cinfo)) {
        for (int c = 0; c < cinfo.num_components; ++c)
            coefficients += std::int64_t{cinfo.comp_info[c].width_in_blocks} *
                            cinfo.comp_info[c].height_in_blocks * DCTSIZE2 * std::int64_t(sizeof(JCOEF));
    }
    needed = coefficients;
    if (pixels <= 0 || pixels > PhotoDecoder::kMaxPixels || coefficients > PhotoDecoder::kMemoryBudget) {
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::OverBudget;
    }
    orientation = 1;
    for (jpeg_saved_marker_ptr m = cinfo.marker_list; m; m = m->next) {
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0) {
            orientation = exifOrientation(m->data, m->data_length);
            break;
        }
    }
    stored = QSize(int(cinfo.image_width), int(cinfo.image_height));
    if (cinfo.num_components == 4) { // CMYK or YCCK: left to Qt's reader
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::Failed;
    }
    // The smallest of the decoder's scales n/8 (n from 1 to 8) whose output still covers the fitted
    // size (within `coverSlack` of it), as the photo stands after its orientation: the scaled IDCT is cheaper
    // than decoding whole and scaling down afterwards, and a scale that only just covers leaves the least to
    // scale down.
    if (box.isValid() && !box.isEmpty()) {
        const bool turned = orientation >= 5;
        const QSize target = PhotoDecoder::fittedSize(stored, turned ? box.transposed() : box);
        // The scaled decoder rounds each side up.
        const auto covers = [&](std::int64_t num) {
            const std::int64_t width = (std::int64_t{stored.width()} * num + 7) / 8;
            const std::int64_t height = (std::int64_t{stored.height()} * num + 7) / 8;
            return static_cast<double>(width) >= coverSlack * target.width() &&
                   static_cast<double>(height) >= coverSlack * target.height();
        };
        unsigned num = 1;
        while (num < 8 && !covers(num))
            ++num;
        cinfo.scale_num = num;
        cinfo.scale_denom = 8;
    }
    cinfo.out_color_space = JCS_EXT_BGRX;
    cinfo.dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(&cinfo);
    // The image decoded into, and its upright or fitted copy.
    needed = coefficients + std::int64_t{cinfo.output_width} * cinfo.output_height * 4 * 2;
    if (needed > PhotoDecoder::kMemoryBudget) {
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::OverBudget;
    }
    if (out.width() != int(cinfo.output_width) || out.height() != int(cinfo.output_height))
        out = FrameBufferPool::largeImage(int(cinfo.output_width), int(cinfo.output_height));
    if (out.isNull()) {
        jpeg_destroy_decompress(&cinfo);
        return JpegOutcome::Failed;
    }
    std::uint8_t* bits = out.bits();
    const qsizetype stride = out.bytesPerLine();
    jpeg_start_decompress(&cinfo);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = bits + stride * qsizetype(cinfo.output_scanline);
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return JpegOutcome::Decoded;
}

// Qt's reader over the bytes read; its own allocation limit bounds what it allocates.
QImage decodeJpegQt(std::span<const std::uint8_t> bytes, QSize box)
{
    QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    const QSize stored = reader.size();
    if (box.isValid() && stored.isValid()) {
        // The reader scales before the orientation is applied: fit the stored size to the box as the
        // photo will stand.
        const bool turned = reader.transformation().testFlag(QImageIOHandler::TransformationRotate90);
        const QSize target = PhotoDecoder::fittedSize(stored, turned ? box.transposed() : box);
        if (target != stored)
            reader.setScaledSize(target);
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    if (image.format() != QImage::Format_RGB32 && image.format() != QImage::Format_ARGB32)
        image.convertTo(QImage::Format_RGB32);
    return image;
}

// The upright size in a JPEG's header.
QSize jpegNaturalSize(std::span<const std::uint8_t> bytes)
{
    QByteArray data =
        QByteArray::fromRawData(reinterpret_cast<const char*>(bytes.data()), qsizetype(bytes.size()));
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "jpeg");
    reader.setAutoTransform(true);
    QSize size = reader.size();
    if (size.isValid() && reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        size.transpose();
    return size.isValid() ? size : QSize();
}

// libjpeg-turbo on `bytes`; nothing when it cannot (`overBudget` set when the photo is too large).
QImage decodeJpegTurboBytes(std::span<const std::uint8_t> bytes, const QString& path, QSize box,
                            QSize* natural, bool& overBudget, double coverSlack = 1.0)
{
    // A decode that is scaled down afterwards goes through this thread's scratch image: a fresh
    // camera-size image costs more in page faults than its scaling.
    thread_local QImage scratch;
    const bool fitting = box.isValid() && !box.isEmpty();
    QImage image = fitting ? std::exchange(scratch, QImage()) : QImage();
    int orientation = 1;
    QSize stored;
    std::int64_t pixels = 0;
    std::int64_t needed = 0;
    const JpegOutcome outcome =
        decodeJpegTurbo(bytes, box, image, orientation, stored, pixels, needed, coverSlack);
    overBudget = outcome == JpegOutcome::OverBudget;
    if (overBudget)
        withinBudget(path, pixels, needed);
    if (outcome != JpegOutcome::Decoded)
        return {};
    if (natural)
        *natural = orientation >= 5 ? stored.transposed() : stored;
    image = upright(std::move(image), orientation);
    if (!fitting)
        return image;
    QImage fitted = PhotoDecoder::scaledToFit(image, box);
    // Kept only when the result is a copy of its own.
    if (fitted.constBits() != image.constBits())
        scratch = std::move(image);
    return fitted;
}

QImage decodeJpegBytes(std::span<const std::uint8_t> bytes, const QString& path, QSize box, QSize* natural,
                       double coverSlack)
{
    bool overBudget = false;
    QImage image = decodeJpegTurboBytes(bytes, path, box, natural, overBudget, coverSlack);
    if (!image.isNull() || overBudget)
        return image;
    if (natural)
        *natural = jpegNaturalSize(bytes);
    return decodeJpegQt(bytes, box);
}

} // namespace

bool PhotoDecoder::isHeic(const QString& path)
{
    return FileListing::extension(path) == QLatin1String("heic");
}

QSize PhotoDecoder::naturalSize(const QString& path)
{
    RegularFile file(path);
    const PhotoBytes bytes(file);
    if (!bytes.ok())
        return {};
    if (isHeic(path)) {
        HeifContext ctx;
        HeifHandle handle;
        if (!openHeic(bytes.bytes(), path, ctx, handle))
            return {};
        return {heif_image_handle_get_width(handle.get()), heif_image_handle_get_height(handle.get())};
    }
    return jpegNaturalSize(bytes.bytes());
}

QImage PhotoDecoder::decode(const QString& path, QSize box, QSize* natural)
{
    if (natural)
        *natural = QSize();
    RegularFile file(path);
    return decodeFile(file, box, natural);
}

QImage PhotoDecoder::decodeFile(RegularFile& file, QSize box, QSize* natural)
{
    return decodeFile(file, box, natural, 1.0);
}

QImage PhotoDecoder::decodeDisplayCopy(const QString& path, QSize box, QSize* natural)
{
    RegularFile file(path);
    return decodeFile(file, box, natural, kCoverSlack);
}

QImage PhotoDecoder::decodeFile(RegularFile& file, QSize box, QSize* natural, double coverSlack)
{
    if (natural)
        *natural = QSize();
    const PhotoBytes bytes(file);
    if (!bytes.ok())
        return {};
    if (isHeic(file.path()))
        return decodeHeic(bytes.bytes(), file.path(), box, natural);
    return decodeJpegBytes(bytes.bytes(), file.path(), box, natural, coverSlack);
}

QImage PhotoDecoder::decodePreview(const QString& path, QSize box)
{
    RegularFile file(path);
    if (!isHeic(path))
        return decodeFile(file, box);
    const PhotoBytes bytes(file);
    return bytes.ok() ? decodeHeicPreview(bytes.bytes(), path, box) : QImage();
}

void PhotoDecoder::setHeicDecodingThreads(int threads)
{
    heicThreads().store(std::max(0, threads), std::memory_order_relaxed);
}

void PhotoDecoder::setHevcDecoder(HevcDecoder decoder)
{
    hevcByLibavcodec().store(decoder == HevcDecoder::Libavcodec, std::memory_order_relaxed);
}

int PhotoDecoder::heicDecodingThreads()
{
    return heicThreads().load(std::memory_order_relaxed);
}

QImage PhotoDecoder::decodeJpegDirect(const QString& path, QSize box)
{
    RegularFile file(path);
    const PhotoBytes bytes(file);
    bool overBudget = false;
    return bytes.ok() ? decodeJpegTurboBytes(bytes.bytes(), path, box, nullptr, overBudget) : QImage();
}

QImage PhotoDecoder::decodeJpegWithQt(const QString& path, QSize box)
{
    RegularFile file(path);
    const PhotoBytes bytes(file);
    return bytes.ok() ? decodeJpegQt(bytes.bytes(), box) : QImage();
}

QSize PhotoDecoder::fittedSize(QSize size, QSize box)
{
    if (!box.isValid() || box.isEmpty() || size.isEmpty())
        return size;
    if (size.width() <= box.width() && size.height() <= box.height())
        return size;
    return size.scaled(box, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
}

QSize PhotoDecoder::coveringBox(QSize size, QSize box)
{
    if (!box.isValid() || box.isEmpty() || size.isEmpty())
        return box;
    const std::int64_t sw = size.width(), sh = size.height(), bw = box.width(), bh = box.height();
    // The side whose scale is the larger fills the box; the other is rounded up.
    const QSize covering = bw * sh >= bh * sw
                               ? QSize(box.width(), static_cast<int>((sh * bw + sw - 1) / sw))
                               : QSize(static_cast<int>((sw * bh + sh - 1) / sh), box.height());
    return covering.width() > size.width() || covering.height() > size.height() ? size : covering;
}

QImage PhotoDecoder::scaledToFit(const QImage& image, QSize box)
{
    if (image.isNull())
        return {};
    const QSize target = fittedSize(image.size(), box);
    if (target == image.size())
        return image;
    QImage source = image;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    QImage out = source.format() == QImage::Format_RGB32
                     ? FrameBufferPool::largeImage(target.width(), target.height())
                     : QImage(target, source.format());
    if (out.isNull())
        return {};
    if (libyuv::ARGBScale(source.constBits(), static_cast<int>(source.bytesPerLine()), source.width(),
                          source.height(), out.bits(), static_cast<int>(out.bytesPerLine()), out.width(),
                          out.height(), libyuv::kFilterBox) != 0)
        return source.scaled(target, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    out.setColorSpace(source.colorSpace());
    return out;
}

} // namespace qr
