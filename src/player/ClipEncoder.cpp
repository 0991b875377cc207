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
constexpr int kMaxLiveFps = 60;
// Live clips count time in the 90 kHz clock of video streams: fine enough for any camera's frame
// times, and exact for whole milliseconds.
constexpr int kLiveTimeBase = 90000;

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
    m_error = message;
    // A live clip keeps its whole fragments; anything else goes.
    if (!keepWrittenPart())
        abort();
    return false;
}

bool ClipEncoder::open(const QString& targetPath, QSize frameSize, int fps)
{
    return setUp(targetPath, frameSize, fps, false, false);
}

bool ClipEncoder::openLive(const QString& targetPath, QSize frameSize, int nominalFps, bool displayP3)
{
    return setUp(targetPath, frameSize, nominalFps, true, displayP3);
}

bool ClipEncoder::setUp(const QString& targetPath, QSize frameSize, int fps, bool live, bool displayP3)
{
    abort();
    m_error.clear();
    m_frames = 0;
    m_framesInClip = 0;
    m_live = live;
    m_nominalFps = fps;
    m_lastPts = -1;
    m_fragmentFrames = 0;
    m_keptBytes = 0;
    m_keptFrames = 0;
    if (frameSize.isEmpty() || frameSize.width() % 2 != 0 || frameSize.height() % 2 != 0 || fps < 1 ||
        fps > (live ? kMaxLiveFps : kMaxFps))
        return fail(QStringLiteral("no clip of %1 x %2 at %3 per second")
                        .arg(frameSize.width())
                        .arg(frameSize.height())
                        .arg(fps));
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_ERROR); });

    // A hidden name beside the target that no reader of the folder takes for a clip; libavformat
    // truncates and writes it, and reopens it to move the index to the front.
    const QFileInfo target(targetPath);
    m_file = std::make_unique<ReplacingFile>(target.absoluteFilePath());
    const QString temp = m_file->temporaryPath();
    if (temp.isEmpty())
        return fail(m_file->errorString());
    m_target = target.absoluteFilePath();
    m_size = frameSize;

    m_av = std::make_unique<Av>();
    const QByteArray tempName = QFile::encodeName(temp);
    int rc = avformat_alloc_output_context2(&m_av->format, nullptr, "mp4", tempName.constData());
    if (rc < 0 || !m_av->format)
        return fail(QStringLiteral("MP4 output: %1").arg(avError(rc)));
    const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
    if (!h264)
        return fail(QStringLiteral("the H.264 encoder libx264 is not installed"));
    m_av->stream = avformat_new_stream(m_av->format, nullptr);
    m_av->codec = avcodec_alloc_context3(h264);
    m_av->frame = av_frame_alloc();
    m_av->packet = av_packet_alloc();
    if (!m_av->stream || !m_av->codec || !m_av->frame || !m_av->packet)
        return fail(QStringLiteral("out of memory"));

    AVCodecContext* c = m_av->codec;
    c->width = frameSize.width();
    c->height = frameSize.height();
    c->pix_fmt = AV_PIX_FMT_YUV420P;
    c->time_base = AVRational{1, live ? kLiveTimeBase : fps};
    c->framerate = AVRational{fps, 1};
    // A key frame every two seconds, for seeking; every second in a live clip, where each starts the
    // fragment that is kept when a later write fails.
    c->gop_size = live ? fps : 2 * fps;
    // What the conversion below produces: BT.601 matrix, limited range, from sRGB-like photos (or
    // Display P3 ones, whose values are kept as they are and tagged so).
    c->color_range = AVCOL_RANGE_MPEG;
    c->colorspace = AVCOL_SPC_SMPTE170M;
    c->color_primaries = displayP3 ? AVCOL_PRI_SMPTE432 : AVCOL_PRI_BT709;
    c->color_trc = AVCOL_TRC_IEC61966_2_1;
    if (m_av->format->oformat->flags & AVFMT_GLOBALHEADER)
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
    if (live) {
        // A frame leaves the encoder as it goes in, on the caller's thread alone: a live clip has a
        // thread of its own beside others, and nothing waits in the encoder when the clip ends.
        av_opt_set(c->priv_data, "tune", "zerolatency", 0);
        av_opt_set(c->priv_data, "x264-params", "bframes=0:rc-lookahead=0:deblock=1,0,0", 0);
        c->thread_count = 1;
    }
    rc = avcodec_open2(c, h264, nullptr);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    rc = avcodec_parameters_from_context(m_av->stream->codecpar, c);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    m_av->stream->time_base = c->time_base;
    if (!live) { // a live clip's rate is that of its frames' times
        m_av->stream->avg_frame_rate = c->framerate;
        m_av->stream->r_frame_rate = c->framerate;
    }

    rc = avio_open(&m_av->format->pb, tempName.constData(), AVIO_FLAG_WRITE);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(temp, avError(rc)));
    AVDictionary* options = nullptr;
    // A live clip: an index without samples, then self-contained fragments that end where the writer
    // says (endFragment), each at a key frame.
    av_dict_set(&options, "movflags", live ? "+frag_custom+empty_moov+default_base_moof" : "+faststart", 0);
    rc = avformat_write_header(m_av->format, &options);
    av_dict_free(&options);
    if (rc < 0)
        return fail(QStringLiteral("MP4 header: %1").arg(avError(rc)));

    m_av->frame->format = AV_PIX_FMT_YUV420P;
    m_av->frame->width = c->width;
    m_av->frame->height = c->height;
    m_av->frame->color_range = c->color_range;
    m_av->frame->colorspace = c->colorspace;
    rc = av_frame_get_buffer(m_av->frame, 0);
    if (rc < 0)
        return fail(QStringLiteral("frame: %1").arg(avError(rc)));
    if (live) {
        m_held = av_packet_alloc();
        if (!m_held)
            return fail(QStringLiteral("out of memory"));
        avio_flush(m_av->format->pb);
        if (m_av->format->pb->error < 0)
            return fail(QStringLiteral("%1: %2").arg(temp, avError(m_av->format->pb->error)));
        m_keptBytes = avio_tell(m_av->format->pb);
    }
    return true;
}

bool ClipEncoder::convert(const QImage& photo)
{
    QImage source = photo;
    if (source.format() != QImage::Format_RGB32 && source.format() != QImage::Format_ARGB32)
        source = source.convertToFormat(QImage::Format_RGB32);
    if (source.isNull())
        return false;
    AVFrame* f = m_av->frame;
    int width = source.width();
    int height = source.height();
    const std::uint8_t* bits = source.constBits();
    int stride = static_cast<int>(source.bytesPerLine());
    int x = 0;
    int y = 0;
    if (source.size() != m_size) {
        // Fitted into the frame (up or down), centred on black, at even offsets and sizes so that the
        // chroma of the picture and of the border do not share samples.
        const QSize fitted = source.size().scaled(m_size, Qt::KeepAspectRatio);
        width = std::min(evenDown(fitted.width()), m_size.width());
        height = std::min(evenDown(fitted.height()), m_size.height());
        m_scaled.resize(static_cast<std::size_t>(width) * height * 4);
        if (libyuv::ARGBScale(bits, stride, source.width(), source.height(), m_scaled.data(), width * 4,
                              width, height, libyuv::kFilterBox) != 0)
            return false;
        bits = m_scaled.data();
        stride = width * 4;
        x = ((m_size.width() - width) / 2) & ~1;
        y = ((m_size.height() - height) / 2) & ~1;
        for (int row = 0; row < m_size.height(); ++row)
            std::memset(f->data[0] + static_cast<std::ptrdiff_t>(row) * f->linesize[0], 16, m_size.width());
        for (int row = 0; row < m_size.height() / 2; ++row) {
            std::memset(f->data[1] + static_cast<std::ptrdiff_t>(row) * f->linesize[1], 128,
                        m_size.width() / 2);
            std::memset(f->data[2] + static_cast<std::ptrdiff_t>(row) * f->linesize[2], 128,
                        m_size.width() / 2);
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
        const int rc = avcodec_receive_packet(m_av->codec, m_av->packet);
        if (rc == AVERROR(EAGAIN) || (flushing && rc == AVERROR_EOF))
            return true;
        if (rc < 0)
            return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
        if (m_live) {
            if (!writeLivePacket(m_av->packet))
                return false;
            continue;
        }
        // Every photo lasts one period, the last one too.
        if (m_av->packet->duration <= 0)
            m_av->packet->duration = 1;
        av_packet_rescale_ts(m_av->packet, m_av->codec->time_base, m_av->stream->time_base);
        m_av->packet->stream_index = m_av->stream->index;
        const int written = av_interleaved_write_frame(m_av->format, m_av->packet);
        if (written < 0)
            return fail(QStringLiteral("%1: %2").arg(m_target, avError(written)));
    }
}

bool ClipEncoder::writeLivePacket(AVPacket* packet)
{
    // The held packet lasts until this one starts; a fragment ends before each key frame.
    if (m_held->size > 0) {
        m_held->duration = std::max<std::int64_t>(1, packet->dts - m_held->dts);
        av_packet_rescale_ts(m_held, m_av->codec->time_base, m_av->stream->time_base);
        m_held->stream_index = m_av->stream->index;
        const int written = av_write_frame(m_av->format, m_held);
        av_packet_unref(m_held);
        if (written < 0)
            return fail(QStringLiteral("%1: %2").arg(m_target, avError(written)));
        ++m_fragmentFrames;
        if ((packet->flags & AV_PKT_FLAG_KEY) && !endFragment())
            return false;
    }
    av_packet_move_ref(m_held, packet);
    return true;
}

bool ClipEncoder::endFragment()
{
    if (m_fragmentFrames == 0)
        return true;
    int rc = av_write_frame(m_av->format, nullptr);
    AVIOContext* pb = m_av->format->pb;
    if (rc >= 0) {
        avio_flush(pb);
        rc = pb->error;
    }
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(m_target, avError(rc)));
    m_keptBytes = avio_tell(pb);
    m_keptFrames += static_cast<int>(m_fragmentFrames);
    m_fragmentFrames = 0;
    return true;
}

bool ClipEncoder::keepWrittenPart()
{
    if (!m_live || !m_file || m_keptFrames == 0)
        return false;
    const QString temp = m_file->temporaryPath();
    av_packet_free(&m_held);
    m_av.reset(); // closes the file; what it still writes past the last whole fragment is cut off
    if (temp.isEmpty() || !QFile::resize(temp, m_keptBytes))
        return false;
    const bool committed = m_file->commit();
    m_file.reset();
    if (committed)
        m_framesInClip = m_keptFrames;
    return committed;
}

bool ClipEncoder::addFrameAt(const QImage& photo, std::int64_t timeUs)
{
    if (!m_av || !m_live)
        return false;
    std::int64_t pts = (std::max<std::int64_t>(0, timeUs) * (kLiveTimeBase / 10000) + 50) / 100;
    if (pts <= m_lastPts)
        pts = m_lastPts + 1;
    return encode(photo, pts);
}

bool ClipEncoder::addFrame(const QImage& photo)
{
    if (!m_av || m_live)
        return false;
    return encode(photo, m_frames);
}

bool ClipEncoder::encode(const QImage& photo, std::int64_t pts)
{
    if (photo.isNull())
        return fail(QStringLiteral("an empty photo"));
    int rc = av_frame_make_writable(m_av->frame);
    if (rc < 0)
        return fail(QStringLiteral("frame: %1").arg(avError(rc)));
    if (!convert(photo))
        return fail(QStringLiteral("a photo of %1 x %2 could not be converted")
                        .arg(photo.width())
                        .arg(photo.height()));
    m_av->frame->pts = pts;
    m_lastPts = pts;
    rc = avcodec_send_frame(m_av->codec, m_av->frame);
    if (rc < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(rc)));
    ++m_frames;
    return drain(false);
}

bool ClipEncoder::finish()
{
    if (!m_av)
        return false;
    if (m_frames == 0)
        return fail(QStringLiteral("no photos"));
    const int sent = avcodec_send_frame(m_av->codec, nullptr);
    if (sent < 0)
        return fail(QStringLiteral("H.264 encoder: %1").arg(avError(sent)));
    if (!drain(true))
        return false;
    if (m_live && m_held->size > 0) {
        // The last frame lasts one nominal period.
        m_held->duration = std::max(1, kLiveTimeBase / m_nominalFps);
        av_packet_rescale_ts(m_held, m_av->codec->time_base, m_av->stream->time_base);
        m_held->stream_index = m_av->stream->index;
        const int written = av_write_frame(m_av->format, m_held);
        av_packet_unref(m_held);
        if (written < 0)
            return fail(QStringLiteral("%1: %2").arg(m_target, avError(written)));
        ++m_fragmentFrames;
    }
    int rc = av_write_trailer(m_av->format);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(m_target, avError(rc)));
    rc = avio_closep(&m_av->format->pb);
    if (rc < 0)
        return fail(QStringLiteral("%1: %2").arg(m_target, avError(rc)));
    av_packet_free(&m_held);
    m_av.reset();
    const bool committed = m_file->commit();
    const QString error = m_file->errorString();
    m_file.reset();
    if (committed)
        m_framesInClip = m_frames;
    return committed || fail(error);
}

void ClipEncoder::abort()
{
    av_packet_free(&m_held);
    m_av.reset();
    m_file.reset(); // removes the temporary file
}

} // namespace qr
