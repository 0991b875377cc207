#include "player/HevcTileDecoder.h"

#include "player/HeifPointers.h"

#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/pixdesc.h>
}

#include <atomic>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace qr {

namespace {

std::atomic<std::uint64_t> g_decoded{0};

// Where the samples come from and go to: the coded image's NAL units, each after a start code.
struct Decoder {
    std::vector<std::uint8_t> annexB;
};

constexpr heif_error kOk{heif_error_Ok, heif_suberror_Unspecified, "Success"};

heif_error failure(const char* message, heif_suberror_code subcode = heif_suberror_Unspecified)
{
    return {heif_error_Decoder_plugin_error, subcode, message};
}

struct ContextFree {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct PacketFree {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFree {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};

const char* pluginName()
{
    return "libavcodec HEVC";
}

int supportsFormat(heif_compression_format format)
{
    // Above libde265's 100, so that libheif asks this plugin first.
    return format == heif_compression_HEVC ? 200 : 0;
}

heif_error newDecoder(void** decoder)
{
    *decoder = new (std::nothrow) Decoder;
    return *decoder
               ? kOk
               : heif_error{heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
}

void freeDecoder(void* decoder)
{
    delete static_cast<Decoder*>(decoder);
}

heif_error pushData(void* decoder, const void* data, size_t size)
{
    auto& d = *static_cast<Decoder*>(decoder);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    static constexpr std::uint8_t kStartCode[] = {0, 0, 0, 1};
    std::size_t at = 0;
    while (at < size) {
        if (size - at < 4)
            return failure("a NAL unit's length is cut short", heif_suberror_End_of_data);
        const std::size_t length = (std::size_t(bytes[at]) << 24) | (std::size_t(bytes[at + 1]) << 16) |
                                   (std::size_t(bytes[at + 2]) << 8) | std::size_t(bytes[at + 3]);
        at += 4;
        if (length > size - at)
            return failure("a NAL unit runs past the coded data", heif_suberror_End_of_data);
        d.annexB.insert(d.annexB.end(), std::begin(kStartCode), std::end(kStartCode));
        d.annexB.insert(d.annexB.end(), bytes + at, bytes + at + length);
        at += length;
    }
    return kOk;
}

// The decoded picture's planes as libheif's YCbCr (or monochrome) image of the same layout.
heif_error toHeifImage(const AVFrame& frame, heif_image** out)
{
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    if (!desc || !(desc->flags & AV_PIX_FMT_FLAG_PLANAR) ||
        (desc->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_BE)) ||
        (desc->nb_components != 1 && desc->nb_components != 3) || desc->log2_chroma_w > 1 ||
        desc->log2_chroma_h > desc->log2_chroma_w)
        return failure("the decoded picture's layout is not one of HEIF's",
                       heif_suberror_Unsupported_color_conversion);
    const int depth = desc->comp[0].depth;
    if (depth < 8 || depth > 16 || frame.width <= 0 || frame.height <= 0)
        return failure("the decoded picture's size or depth is not one of HEIF's");
    const bool mono = desc->nb_components == 1;
    const heif_chroma chroma = mono                       ? heif_chroma_monochrome
                               : desc->log2_chroma_w == 0 ? heif_chroma_444
                               : desc->log2_chroma_h == 0 ? heif_chroma_422
                                                          : heif_chroma_420;
    heif_image* raw = nullptr;
    heif_error e = heif_image_create(frame.width, frame.height,
                                     mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr, chroma, &raw);
    if (e.code != heif_error_Ok)
        return e;
    HeifImage image(raw);
    const int sampleBytes = depth > 8 ? 2 : 1;
    const heif_channel channels[] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    for (int c = 0; c < desc->nb_components; ++c) {
        const int shiftW = c == 0 ? 0 : desc->log2_chroma_w;
        const int shiftH = c == 0 ? 0 : desc->log2_chroma_h;
        const int width = (frame.width + (1 << shiftW) - 1) >> shiftW;
        const int height = (frame.height + (1 << shiftH) - 1) >> shiftH;
        const int plane = desc->comp[c].plane;
        if (!frame.data[plane] || frame.linesize[plane] < width * sampleBytes)
            return failure("the decoded picture has a plane short of its rows");
        e = heif_image_add_plane(image.get(), channels[c], width, height, depth);
        if (e.code != heif_error_Ok)
            return e;
        int stride = 0;
        std::uint8_t* to = heif_image_get_plane(image.get(), channels[c], &stride);
        if (!to || stride < width * sampleBytes)
            return failure("libheif gave a plane short of its rows");
        for (int y = 0; y < height; ++y)
            std::memcpy(to + std::ptrdiff_t(y) * stride,
                        frame.data[plane] + std::ptrdiff_t(y) * frame.linesize[plane],
                        std::size_t(width) * std::size_t(sampleBytes));
    }
    *out = image.release();
    return kOk;
}

heif_error decodeImage(void* decoder, heif_image** out)
{
    *out = nullptr;
    auto& d = *static_cast<Decoder*>(decoder);
    if (d.annexB.empty())
        return failure("no coded data", heif_suberror_End_of_data);
    const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_HEVC);
    if (!codec)
        return failure("libavcodec has no HEVC decoder");
    std::unique_ptr<AVCodecContext, ContextFree> context(avcodec_alloc_context3(codec));
    std::unique_ptr<AVPacket, PacketFree> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFree> frame(av_frame_alloc());
    if (!context || !packet || !frame)
        return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
    // libheif decodes a grid's tiles on threads of its own: one thread each here.
    context->thread_count = 1;
    if (avcodec_open2(context.get(), codec, nullptr) < 0)
        return failure("the HEVC decoder did not open");
    // The packet is padded with zeros as libavcodec's readers expect.
    if (d.annexB.size() > std::size_t(INT32_MAX) || av_new_packet(packet.get(), int(d.annexB.size())) < 0)
        return {heif_error_Memory_allocation_error, heif_suberror_Unspecified, "out of memory"};
    std::memcpy(packet->data, d.annexB.data(), d.annexB.size());
    d.annexB = {};
    if (avcodec_send_packet(context.get(), packet.get()) < 0 ||
        avcodec_send_packet(context.get(), nullptr) < 0 ||
        avcodec_receive_frame(context.get(), frame.get()) < 0)
        return failure("the HEVC data did not decode to a picture");
    const heif_error e = toHeifImage(*frame, out);
    if (e.code == heif_error_Ok)
        g_decoded.fetch_add(1, std::memory_order_relaxed);
    return e;
}

} // namespace

const heif_decoder_plugin* HevcTileDecoder::plugin()
{
    static const heif_decoder_plugin kPlugin = [] {
        heif_decoder_plugin p{};
        p.plugin_api_version = 1;
        p.get_plugin_name = pluginName;
        p.does_support_format = supportsFormat;
        p.new_decoder = newDecoder;
        p.free_decoder = freeDecoder;
        p.push_data = pushData;
        p.decode_image = decodeImage;
        return p;
    }();
    static const bool available = avcodec_find_decoder(AV_CODEC_ID_HEVC) != nullptr;
    return available ? &kPlugin : nullptr;
}

std::uint64_t HevcTileDecoder::decodedImages()
{
    return g_decoded.load(std::memory_order_relaxed);
}

} // namespace qr
