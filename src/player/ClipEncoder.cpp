#include "player/ClipEncoder.h"

#include "platform/ReplacingFile.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <libyuv/convert.h>
#include <libyuv/scale_argb.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <mutex>

namespace qr {

namespace {

constexpr int kMaxFps = 30;

QString avError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return QString::fromLocal8Bit(text);
}

int evenDown(int v)
{
    return std::max(2, v & ~1);
}

} // namespace

struct ClipEncoder::Av {
    AVFormatContext* format = nullptr;
    AVCodecContext* codec = nullptr;
    AVStream* stream = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;

    ~Av()
    {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&codec);
        if (format) {
            avio_closep(&format->pb);
            avformat_free_context(format);
        }
    }
};

ClipEncoder::ClipEncoder() = default;

ClipEncoder::~ClipEncoder()
{
    abort();
}

QSize ClipEncoder::frameSizeFor(QSize photo, int maxHeight)
{
    if (photo.isEmpty() || maxHeight < 2)
        return {};
    QSize fitted = photo;
    if (photo.height() > maxHeight) {
        const auto width =
            static_cast<int>(static_cast<std::int64_t>(photo.width()) * maxHeight / photo.height());
        fitted = QSize(width, maxHeight);
    }
    return {evenDown(fitted.width()), evenDown(fitted.height())};
}

bool ClipEncoder::fail(const QString& message)
{
    error_ = message;
    abort();
    return false;
}

bool ClipEncoder::open(const QString& targetPath, QSize frameSize, int fps)
{
    abort();
    error_.clear();
    frames_ = 0;
    if (frameSize.isEmpty() || frameSize.width() % 2 != 0 || frameSize.height() % 2 != 0 || fps < 1 ||
        fps > kMaxFps)
        return fail(QStringLiteral("no clip of %1 x %2 at %3 per second")
                        .arg(frameSize.width())
                        .arg(frameSize.height())
                        .arg(fps));
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });

    // A hidden name beside the target that no reader of the folder takes for a clip; libavformat
    // truncates and writes it, and reopens it to move the index to the front.
    const QFileInfo target(targetPath);
    file_ = std::make_unique<ReplacingFile>(target.absoluteFilePath());
    const QString temp = file_->temporaryPath();
    if (temp.isEmpty())
        return fail(file_->errorString());
    target_ = target.absoluteFilePath();
    size_ = frameSize;

    av_ = std::make_unique<Av>();
    const QByteArray tempName = QFile::encodeName(temp);
    int rc = avformat_alloc_output_context2(&av_->format, nullptr, "mp4", tempName.constData());
    if (rc < 0 || !av_->format)
        return fail(QStringLiteral("MP4 output: %1").arg(avError(rc)));
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264)
        return fail(QStringLiteral("the H.264 encoder libx264 is not installed"));
    av_->stream = avformat_new_stream(av_->format, nullptr);
    av_->codec = avcodec_alloc_context3(h264);
    av_->frame = av_frame_alloc();
    av_->packet = av_packet_alloc();
    if (!av_->stream || !av_->codec || !av_->frame || !av_->packet)
        return fail(QStringLiteral("out of memory"));

    AVCodecContext* c = av_->codec;
    c->width = frameSize.width();
    c->height = frameSize.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, fps};
    c->framerate = AVRational{fps, 1};
    c->gop_size = 2 * fps; // a key frame every two seconds, for seeking
    // What the conversion below produces: BT.601 matrix, limited range, from sRGB-like photos.
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->color_primaries = AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_IEC61966_2_1;
    if (av_->format->oformat->flags & AVFMT_GLOBALHEADER)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c->priv_data, "preset", "ultrafast", 0);
    av_opt_set(c->priv_data, "crf", "18", 0);
    av_opt_set(c->priv_data, "profile", "high", 0);
    // Frames leave the encoder as they come: no B-frames and a short look-ahead keep few frames
    // buffered (memory); a few frame threads. The fastest preset keeps encoding well below the cost
    // of decoding the photos (a slower one doubles an export's time); the deblocking filter it drops
    // is put back, for smooth gradients at little cost.
    av_opt_set(c->priv_data, "x264-params", "bframes=0:rc-lookahead=5:deblock=1,0,0", 0);
    c->thread_count = std::clamp(QThread::idealThreadCount(), 1, 4);
    rc = avcodec_open2(c, h264, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    rc = avcodec_parameters_from_context(av_->stream->codecpar, c);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    av_->stream->time_base = c->time_base;
    av_->stream->avg_frame_rate = c->framerate;
    av_->stream->r_frame_rate = c->framerate;

    rc = avio_open(&av_->format->pb, tempName.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(temp, avError(rc)));
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(av_->format, &options);
    av_dict_free(&options);
    if (rc < 0)
        return fail(QStringLiteral("MP4 header: %1").arg(avError(rc)));

    av_->frame->format = AV_PIX_FMT_YUV420P;
    av_->frame->width = c->width;
    av_->frame->height = c->height;
    av_->frame->color_range = c->color_range;
    av_->frame->colorspace = c->colorspace;
    rc = av_frame_get_buffer(av_->frame, 0);
    if (rc < 0)
        return fail(QStringLiteral("frame: %1").arg(avError(rc)));
    return true;
}

bool ClipEncoder::convert(const QImage& photo)
{
    QImage source = photo;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    if (source.isNull())
        return false;
    AVFrame* f = av_->frame;
    int width = source.width();
    int height = source.height();
    const std::uint8_t* bits = source.constBits();
    int stride = static_cast<int>(source.bytesPerLine());
    int x = 0;
    int y = 0;
    if (source.size() != size_) {
        // Fitted into the frame (up or down), centred on black, at even offsets and sizes so that the
        // chroma of the picture and of the border do not share samples.
        const QSize fitted = source.size().scaled(size_, Qt::KeepAspectRatio);
        width = std::min(evenDown(fitted.width()), size_.width());
        height = std::min(evenDown(fitted.height()), size_.height());
        scaled_.resize(static_cast<std::size_t>(width) * height * 4);
        if (libyuv::ARGBScale(bits, stride, source.width(), source.height(), scaled_.data(), width * 4, width,
                              height, libyuv::kFilterBox) != 0)
            return false;
        bits = scaled_.data();
        stride = width * 4;
        x = ((size_.width() - width) / 2) & ~1;
        y = ((size_.height() - height) / 2) & ~1;
        for (int row = 0; row < size_.height(); ++row)
            std::memset(f->data[0] + static_cast<std::ptrdiff_t>(row) * f->linesize[0], 16, size_.width());
        for (int row = 0; row < size_.height() / 2; ++row) {
            std::memset(f->data[1] + static_cast<std::ptrdiff_t>(row) * f->linesize[1], 128,
                        size_.width() / 2);
            std::memset(f->data[2] + static_cast<std::ptrdiff_t>(row) * f->linesize[2], 128,
                        size_.width() / 2);
        }
    }
    // libyuv's "ARGB" is memory order B, G, R, A: QImage's RGB32 on little-endian machines.
    return libyuv::ARGBToI420(
               bits, stride, f->data[0] + static_cast<std::ptrdiff_t>(y) * f->linesize[0] + x, f->linesize[0],
               f->data[1] + static_cast<std::ptrdiff_t>(y / 2) * f->linesize[1] + x / 2, f->linesize[1],
               f->data[2] + static_cast<std::ptrdiff_t>(y / 2) * f->linesize[2] + x / 2, f->linesize[2],
               width, height) == 0;
}

bool ClipEncoder::drain(bool flushing)
{
    for (;;) {
        const int rc = avcodec_receive_packet(av_->codec, av_->packet);
        if (rc == AVERROR(EAGAIN) || (flushing && rc == AVERROR_EOF))
            return true;
        if (rc < 0)
            return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
        // Every photo lasts one period, the last one too.
        if (av_->packet->duration <= 0)
            av_->packet->duration = 1;
        av_packet_rescale_ts(av_->packet, av_->codec->time_base, av_->stream->time_base);
        av_->packet->stream_index = av_->stream->index;
        const int written = av_interleaved_write_frame(av_->format, av_->packet);
        if (written < 0)
            return fail(QStringLiteral("%1: %2").arg(target_, avError(written)));
    }
}

bool ClipEncoder::addFrame(const QImage& photo)
{
    if (!av_)
        return false;
    if (photo.isNull())
        return fail(QStringLiteral("an empty photo"));
    int rc = av_frame_make_writable(av_->frame);
    if (rc < 0)
        return fail(QStringLiteral("frame: %1").arg(avError(rc)));
    if (!convert(photo))
        return fail(QStringLiteral("a photo of %1 x %2 could not be converted")
                        .arg(photo.width())
                        .arg(photo.height()));
    av_->frame->pts = frames_;
    rc = avcodec_send_frame(av_->codec, av_->frame);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    ++frames_;
    return drain(false);
}

bool ClipEncoder::finish()
{
    if (!av_)
        return false;
    if (frames_ == 0)
        return fail(QStringLiteral("no photos"));
    const int sent = avcodec_send_frame(av_->codec, nullptr);
    if (sent < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(sent)));
    if (!drain(true))
        return false;
    int rc = av_write_trailer(av_->format);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(target_, avError(rc)));
    rc = avio_closep(&av_->format->pb);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(target_, avError(rc)));
    av_.reset();
    const bool committed = file_->commit();
    const QString error = file_->errorString();
    file_.reset();
    return committed || fail(error);
}

void ClipEncoder::abort()
{
    av_.reset();
    file_.reset(); // removes the temporary file
}

} // namespace qr
